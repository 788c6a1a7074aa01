// Chains over the virtual board with a bound device-algorithm module, bit files in a private
// temporary folder, and the progress reports of the last operation.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "jtag/chain_fixture.h"
#include "jtag/devalg.h"
#include "sim/bitgen.h"
#include "sim/xilinx_parts.h"

namespace vireo::test {

using Progress = std::tuple<int, int, std::string>;

inline std::vector<Progress>& progress_log() {
    static std::vector<Progress> log;
    return log;
}

// Called on every progress report; tests may hook it (Cancel from the host, as the GUI does).
inline void (*&progress_hook())(int current) {
    static void (*hook)(int) = nullptr;
    return hook;
}

inline void record_progress(int current, int total, const char* text) {
    progress_log().emplace_back(current, total, text ? text : "");
    if (progress_hook()) progress_hook()(current);
}

class DevalgTest : public ChainTest {
protected:
    void SetUp() override {
        ChainTest::SetUp();
        set_progress_callback(record_progress);
        progress_log().clear();
        progress_hook() = nullptr;
        folder_ = std::filesystem::temp_directory_path() /
                  ("vireo_devalg_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        progress_hook() = nullptr;
        std::filesystem::remove_all(folder_);
    }

    std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = (folder_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }

    // A full-size image of the part, as the vendor tool would lay it out.
    std::string bit_file(const char* part, const sim::BitgenOptions& options = {},
                         const std::string& name = "") {
        const sim::XilinxPart* p = sim::find_xilinx_part(part);
        EXPECT_TRUE(p) << part;
        return write_file(name.empty() ? std::string(part) + ".bit" : name,
                          sim::make_bit_file(*p, options, "2024/01/01", "12:00:00"));
    }

    // A well-formed .bit header around arbitrary image bytes.
    std::string raw_bit_file(const std::string& name, const std::vector<uint8_t>& image) {
        std::vector<uint8_t> f = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0,
                                  0x00, 0x00, 0x01, 'a'};
        auto field = [&f](const std::string& text) {
            f.push_back(static_cast<uint8_t>((text.size() + 1) >> 8));
            f.push_back(static_cast<uint8_t>(text.size() + 1));
            f.insert(f.end(), text.begin(), text.end());
            f.push_back(0);
        };
        field("synthetic");
        f.push_back('b');
        field("7a100tcsg324");
        f.push_back('c');
        field("2024/01/01");
        f.push_back('d');
        field("12:00:00");
        f.push_back('e');
        for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<uint8_t>(image.size() >> shift));
        f.insert(f.end(), image.begin(), image.end());
        return write_file(name, f);
    }

    struct BindingClose {
        void operator()(DevAlgModule* binding) const { devalg_close(binding); }
    };
    using BindingPtr = std::unique_ptr<DevAlgModule, BindingClose>;

    // Binds the module of the device at index, selects it and names the file to write.
    BindingPtr bind(Chain* chain, int index, const std::string& path = "") {
        BindingPtr binding(devalg_bind_device(chain, index));
        if (Devopt* devopt = device_devopt(chain_get_device(chain, index))) {
            devopt->selected = 1;
            devopt->file_path = path;
        }
        return binding;
    }

    sim::XilinxFpga* fpga() { return board_->find<sim::XilinxFpga>(); }
    SimCableState& cable_state() { return sim_cable_state(cable_.get()); }

    std::filesystem::path folder_;
};

}  // namespace vireo::test
