// An emulated USB bus per test, a scratch folder, and vireo run against the bus; skips (or fails
// under CI) where umockdev cannot work.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/virtual_board.h"
#include "sim/xilinx_fpga.h"
#include "support/emulated_usb.h"
#include "usb/vireo_process.h"

namespace vireo::test {

class EmulatedUsbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!EmulatedBus::available(&why)) {
            if (std::getenv("CI")) FAIL() << "emulated USB unavailable under CI: " << why;
            GTEST_SKIP() << "emulated USB unavailable: " << why;
        }
        bus_ = std::make_unique<EmulatedBus>();
        dir_ = std::filesystem::temp_directory_path() / ("vireo_usb_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    static std::shared_ptr<sim::VirtualBoard> board(const std::string& text) {
        std::string error;
        auto b = sim::make_virtual_board(text, &error);
        EXPECT_TRUE(b) << error;
        return b;
    }
    // A new bus with one board of `preset` at 1:1.
    EmulatedDevice& fresh(const std::string& preset) {
        bus_.reset();  // one testbed at a time: the last one gone leaves no UMOCKDEV_DIR
        bus_ = std::make_unique<EmulatedBus>();
        return bus_->plug(board(preset), 1, 1);
    }
    // vireo, in the scratch folder, seeing the emulated bus.
    VireoRun vireo(const std::vector<std::string>& args) {
        return run_vireo(dir_, args, bus_->child_environment());
    }
    static bool configured(EmulatedDevice& dev) {
        return dev.with_board([](sim::VirtualBoard& b) {
            return b.chain().find<sim::XilinxFpga>()->engine().done();
        });
    }

    std::unique_ptr<EmulatedBus> bus_;
    std::filesystem::path dir_;
};

}  // namespace vireo::test
