// What the command-logic tests share: a user interface that records what the logic shows and
// answers its questions from a script, and a fixture with the host installed on the build's
// runnable folder and a virtual board per test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/app_ui.h"
#include "app/host.h"
#include "app/paths.h"
#include "sim/xilinx_fpga.h"
#include "support/use_virtual_board.h"

namespace vireo::app {

class RecordingUi : public AppUi {
  public:
    void append_log(const std::string& line) override { log.push_back(line); }
    void show_progress(int position, int maximum) override {
        if (maximum > 0) last_progress = {position, maximum};
    }
    void show_phase(const std::string& phase) override { phases.push_back(phase); }
    void show_status(const std::string& text) override { statuses.push_back(text); }
    bool ask_yes_no(const std::string&, const std::string& question) override {
        questions.push_back(question);
        return answer;
    }
    void show_message(const std::string&, const std::string& text) override {
        messages.push_back(text);
    }
    void show_picture(const std::string& path) override { picture = path; }
    void show_device_name(const std::string& name) override { device = name; }
    void show_result(const std::string& text, int) override { results.push_back(text); }
    void set_busy(bool) override {}
    void process_events() override {
        if (on_events) on_events(last_progress);
    }

    // Log lines without their date-and-time prefix.
    std::vector<std::string> texts() const {
        // "2026/12/07 20:45:12  text": 19 characters of date and time, then two blanks.
        std::vector<std::string> out;
        for (const std::string& line : log) {
            const bool dated = line.size() > 21 && line[4] == '/' && line[7] == '/' &&
                               line[13] == ':' && line.compare(19, 2, "  ") == 0;
            out.push_back(dated ? line.substr(21) : line);
        }
        return out;
    }
    // Index of the first log line holding `text`, -1 when none does.
    int find(const std::string& text) const {
        const std::vector<std::string> all = texts();
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].find(text) != std::string::npos) return static_cast<int>(i);
        }
        return -1;
    }
    bool logged(const std::string& text) const { return find(text) >= 0; }
    std::string joined() const {
        std::string all;
        for (const std::string& line : log) all += line + "\n";
        return all;
    }

    std::vector<std::string> log, statuses, questions, messages, results, phases;
    std::pair<int, int> last_progress{0, 0};
    std::string picture, device;
    bool answer = true;
    // Called from process_events with the last progress (the test's Cancel button).
    std::function<void(std::pair<int, int>)> on_events;
};

class AppTest : public ::testing::Test {
  protected:
    void use(const std::string& preset) {
        std::string error;
        board_ = test::use_virtual_board(preset, &error);
        ASSERT_NE(board_, nullptr) << error;
    }
    void SetUp() override {
        cwd_ = std::filesystem::current_path();
        paths_.exe_dir = cwd_.string() + "/";
        paths_.sys_dir = paths_.exe_dir + "sys/";
        install_host(&ui_, paths_);
    }
    // The firmware download moves into the system folder; the next test starts where this did.
    void TearDown() override {
        test::use_virtual_board("");
        std::filesystem::current_path(cwd_);
    }

    // The board's FPGA (the first one on the chain).
    sim::XilinxFpga* fpga() { return board_->chain().find<sim::XilinxFpga>(); }

    std::shared_ptr<sim::VirtualBoard> board_;  // the board use() installed
    RecordingUi ui_;
    AppPaths paths_;
    std::filesystem::path cwd_;
};

}  // namespace vireo::app
