// An emulated USB bus per test; skips (or fails under CI) where umockdev cannot work.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "sim/virtual_board.h"
#include "support/emulated_usb.h"

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
    }

    static std::shared_ptr<sim::VirtualBoard> board(const std::string& text) {
        std::string error;
        auto b = sim::make_virtual_board(text, &error);
        EXPECT_TRUE(b) << error;
        return b;
    }

    std::unique_ptr<EmulatedBus> bus_;
};

}  // namespace vireo::test
