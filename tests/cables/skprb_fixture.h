// skprb opened by name over the virtual board, with every FX3 transfer recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cables/fx3.h"
#include "cables/skprb.h"
#include "fx3_recorder.h"
#include "jtag/chain_fixture.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "sim/xilinx_fpga.h"

namespace vireo::test {

// "TK", the commands, as one packet.
inline std::vector<uint8_t> packet(std::vector<uint8_t> commands) {
    commands.insert(commands.begin(), {'T', 'K'});
    return commands;
}

class SkprbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_print_callback(collect_print);
        set_query_callback(database_query);
        printed().clear();
        record_fx3(log_);
    }
    void TearDown() override {
        cable_.reset();
        fx3_close();
        EXPECT_EQ(log_.open_devices, 0) << "the FX3 device is closed with the cable";
        fx3_set_backend_factory({});
        sim::reset_virtual_board("");
    }

    // The previous cable is closed first: it would close the one FX3 device of the new one.
    Cable* open(const char* sim_text) {
        cable_.reset();
        EXPECT_TRUE(sim::reset_virtual_board(sim_text)) << sim_text;
        cable_.reset(cable_new("", "skprb", ""));
        return cable_.get();
    }

    // Opened, the TAP reset and walked to Shift-DR (the IDCODE register), the log emptied.
    Cable* in_shift_dr(const char* sim_text) {
        Cable* cable = open(sim_text);
        EXPECT_TRUE(cable);
        EXPECT_EQ(cable_tap_goto(cable, TEST_LOGIC_RESET, 1), 1);
        EXPECT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
        EXPECT_EQ(board().state(), sim::TapState::ShiftDr);
        log_.transfers.clear();
        return cable;
    }

    static sim::TapChain& board() { return sim::virtual_board()->chain(); }
    static uint32_t board_idcode() { return board().find<sim::XilinxFpga>()->idcode(); }

    // A shift of the given bits with every TDI mask bit set.
    static int shift(Cable* cable, const std::vector<uint8_t>& tdi, int kind, int nocap, int flush,
                     uint8_t* capture) {
        const std::vector<uint8_t> mask(tdi.size(), 1);
        return cable_shift_inout(cable, static_cast<int>(tdi.size()), tdi.data(), mask.data(),
                                 nullptr, nullptr, capture, kind, nocap, "", flush);
    }
    static std::vector<uint8_t> every(int n, int period) {
        std::vector<uint8_t> bits(n);
        for (int i = 0; i < n; ++i) bits[i] = i % period == 0;
        return bits;
    }
    static std::vector<uint8_t> packed(const std::vector<uint8_t>& bits, int first, int n) {
        std::vector<uint8_t> out((n + 7) / 8, 0);
        for (int i = 0; i < n; ++i) out[i / 8] |= bits[first + i] << (i % 8);
        return out;
    }
    // What a lone IDCODE register in Shift-DR gives back: the code, then TDI 32 bits late.
    static std::vector<uint8_t> idcode_then(const std::vector<uint8_t>& tdi, uint32_t idcode) {
        std::vector<uint8_t> out(tdi.size());
        for (size_t i = 0; i < tdi.size(); ++i) out[i] = i < 32 ? (idcode >> i) & 1 : tdi[i - 32];
        return out;
    }

    Fx3Log log_;
    CablePtr cable_;
};

}  // namespace vireo::test
