// kprbemb opened by name over the virtual board, with every transfer recorded.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "cables/kprbemb.h"
#include "devobj_recorder.h"
#include "jtag/chain_fixture.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "sim/virtual_board.h"
#include "sim/xilinx_fpga.h"

namespace vireo::test {

class KprbembTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_print_callback(collect_print);
        set_query_callback(database_query);
        printed().clear();
        record_wire(log_);
    }
    void TearDown() override {
        cable_.reset();
        EXPECT_EQ(log_.open_devices, 0) << "every handle closed";
        devobj_set_backend({});
        sim::reset_virtual_board("");
    }

    Cable* open(const char* sim_text) {
        EXPECT_TRUE(sim::reset_virtual_board(sim_text)) << sim_text;
        cable_.reset(cable_new("", "kprbemb", ""));
        return cable_.get();
    }

    // Opened, the TAP reset and walked to Shift-DR (the IDCODE register), the log emptied.
    Cable* in_shift_dr(const char* sim_text) {
        Cable* cable = open(sim_text);
        EXPECT_TRUE(cable);
        EXPECT_EQ(cable_tap_goto(cable, TEST_LOGIC_RESET, 1), 1);
        EXPECT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
        EXPECT_EQ(board().state(), sim::TapState::ShiftDr);
        log_.events.clear();
        return cable;
    }

    // Through Run-Test/Idle into Shift-DR again, so the IDCODE is captured anew.
    void reenter_shift_dr(Cable* cable) {
        EXPECT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 0), 1);
        EXPECT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
        log_.events.clear();
    }

    static sim::TapChain& board() { return sim::virtual_board()->chain(); }
    static uint32_t board_idcode() { return board().find<sim::XilinxFpga>()->idcode(); }

    static std::vector<uint8_t> every(int n, int period) {
        std::vector<uint8_t> bits(n);
        for (int i = 0; i < n; ++i) bits[i] = i % period == 0;
        return bits;
    }
    static std::vector<uint8_t> packed(const std::vector<uint8_t>& bits, int first, int n) {
        std::vector<uint8_t> bytes((n + 7) / 8, 0);
        for (int i = 0; i < n; ++i) bytes[i / 8] |= bits[first + i] << (i % 8);
        return bytes;
    }
    // What a lone IDCODE register in Shift-DR gives back: the code, then TDI 32 bits late.
    static std::vector<uint8_t> idcode_then(const std::vector<uint8_t>& tdi, uint32_t idcode) {
        std::vector<uint8_t> out(tdi.size());
        for (size_t i = 0; i < tdi.size(); ++i) out[i] = i < 32 ? (idcode >> i) & 1 : tdi[i - 32];
        return out;
    }
    std::vector<std::vector<uint8_t>> stream_writes() const {
        std::vector<std::vector<uint8_t>> writes;
        for (const WireEvent* e : log_.on(DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_STREAM_OUT))
            writes.push_back(e->bytes);
        return writes;
    }

    WireLog log_;
    CablePtr cable_;  // after log_: closed before the log goes
};

}  // namespace vireo::test
