// Chains over the virtual board for the core's tests, with the built device database.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include "jtag/chain.h"
#include "jtag/msg.h"
#include "sim/arm_dap.h"
#include "sim/bypass_device.h"
#include "sim/xilinx_fpga.h"
#include "support/printed.h"
#include "support/sim_cable.h"

namespace vireo::test {

// The runnable layout's database: tests run in build/<preset>/bin.
inline std::string database_query(const char* key) {
    return std::string(key) == "ddb_file_path" ? "sys/" : "";
}

struct ChainDelete {
    void operator()(Chain* chain) const { chain_delete(chain); }
};
using ChainPtr = std::unique_ptr<Chain, ChainDelete>;

class ChainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_print_callback(collect_print);
        set_query_callback(database_query);
        printed().clear();
    }

    // A chain of the given models, index 0 nearest TDI, attached through the test cable.
    Chain* open(std::unique_ptr<sim::TapChain> board) {
        board_ = board.get();
        cable_.reset(sim_cable_open(std::move(board)));
        EXPECT_TRUE(cable_);
        chain_.reset(chain_new("test"));
        chain_set_cable(chain_.get(), cable_.get());
        return chain_.get();
    }

    static std::unique_ptr<sim::TapChain> board(std::initializer_list<const char*> parts) {
        auto chain = std::make_unique<sim::TapChain>(30'000'000);
        for (const char* part : parts) {
            if (std::string(part) == "ARM_DAP") {
                chain->add(std::make_unique<sim::ArmDap>());
            } else if (std::string(part) == "BYPASS_ONLY") {
                chain->add(std::make_unique<sim::BypassOnlyDevice>());
            } else {
                chain->add(std::make_unique<sim::XilinxFpga>(*sim::find_xilinx_part(part)));
            }
        }
        return chain;
    }

    Chain* detected(std::initializer_list<const char*> parts) {
        Chain* chain = open(board(parts));
        EXPECT_EQ(chain_detect(chain), 1);
        return chain;
    }

    sim::TapChain* board_ = nullptr;  // owned by the cable
    CablePtr cable_;
    ChainPtr chain_;  // declared last: deleted before the cable it points to
};

}  // namespace vireo::test
