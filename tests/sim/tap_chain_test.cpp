// The TAP state machine and the chain: transitions, scans, bulk against bit-level, faults and
// modeled time.
#include <gtest/gtest.h>

#include <random>

#include "sim/arm_dap.h"
#include "sim/bypass_device.h"
#include "sim_scan.h"

namespace vireo::sim {
namespace {

using test::dr_length;
using test::dr_scan;
using test::ir_scan;
using S = TapState;

TEST(TapController, FiveTmsHighReachResetFromEveryState) {
    for (int s = 0; s < 16; ++s) {
        TapState st = static_cast<TapState>(s);
        for (int i = 0; i < 5; ++i) st = next_tap_state(st, true);
        EXPECT_EQ(st, S::TestLogicReset) << tap_state_name(static_cast<TapState>(s));
    }
}

TEST(TapController, StandardPathsAndStableStates) {
    auto walk = [](TapState s, std::initializer_list<bool> tms) {
        for (bool b : tms) s = next_tap_state(s, b);
        return s;
    };
    EXPECT_EQ(walk(S::RunTestIdle, {1, 0, 0}), S::ShiftDr);
    EXPECT_EQ(walk(S::RunTestIdle, {1, 1, 0, 0}), S::ShiftIr);
    EXPECT_EQ(walk(S::ShiftDr, {1, 0, 1, 0}), S::ShiftDr);       // Exit1, Pause, Exit2, Shift
    EXPECT_EQ(walk(S::ShiftIr, {1, 1, 0}), S::RunTestIdle);      // Exit1, Update, RTI
    EXPECT_EQ(walk(S::UpdateDr, {1}), S::SelectDrScan);
    EXPECT_EQ(walk(S::CaptureDr, {1, 1}), S::UpdateDr);          // skip the shift entirely
    for (auto [s, tms] : {std::pair{S::TestLogicReset, true}, {S::RunTestIdle, false},
                          {S::ShiftDr, false}, {S::PauseDr, false}, {S::ShiftIr, false}, {S::PauseIr, false}})
        EXPECT_EQ(next_tap_state(s, tms), s) << tap_state_name(s);
}

TEST(TapChain, GoToTakesShortestPath) {
    TapChain chain;
    chain.go_to(S::RunTestIdle);
    const uint64_t t0 = chain.tck_count();
    chain.go_to(S::ShiftIr);
    EXPECT_EQ(chain.tck_count() - t0, 4u);
    chain.go_to(S::PauseIr);
    EXPECT_EQ(chain.state(), S::PauseIr);
    chain.go_to(S::TestLogicReset);
    EXPECT_EQ(chain.state(), S::TestLogicReset);
}

TEST(TapChain, TdoIsReleasedOutsideShiftStates) {
    TapChain chain;
    chain.add(std::make_unique<BypassOnlyDevice>());
    EXPECT_TRUE(chain.clock(false, false));  // TLR -> RTI
    EXPECT_TRUE(chain.clock(true, false));   // RTI
}

TEST(TapChain, BypassOnlyDeviceHasOneBitDrAndNoIdcode) {
    TapChain chain;
    chain.add(std::make_unique<BypassOnlyDevice>(8));
    chain.go_to(S::TestLogicReset);
    EXPECT_EQ(dr_length(chain, 64), 1u);
    EXPECT_EQ(dr_scan(chain, 0xFFFFFFFF, 32), 0xFFFFFFFEu);  // captured 0, then the ones
    EXPECT_EQ(ir_scan(chain, 0x00, 8), 0x01u);
    EXPECT_EQ(dr_length(chain, 64), 1u);  // every instruction is BYPASS
}

TEST(TapChain, IrShiftConcatenatesDevicesTdoEndFirst) {
    TapChain chain;
    chain.add(std::make_unique<BypassOnlyDevice>(8));
    chain.add(std::make_unique<ArmDap>());
    EXPECT_EQ(chain.total_ir_length(), 12);
    // The DAP (nearest TDO) delivers its capture 0001 first, then the 8-bit device's ...01.
    EXPECT_EQ(ir_scan(chain, 0xFFF, 12), 0x011u);
    // The first bits shifted land in the DAP: 1110 selects its IDCODE.
    EXPECT_EQ(ir_scan(chain, 0xFFE, 12), 0x011u);
    EXPECT_EQ(dr_scan(chain, 0, 33), uint64_t{ArmDap::kIdcode});  // DAP IDCODE, then bypass 0
}

TEST(TapChain, StuckTdoOverridesEveryShift) {
    for (auto [fault, level] : {std::pair{TdoFault::StuckLow, 0u}, {TdoFault::StuckHigh, 1u}}) {
        TapChain chain;
        chain.add(std::make_unique<ArmDap>());
        chain.set_tdo_fault(fault);
        chain.go_to(S::TestLogicReset);
        EXPECT_EQ(dr_scan(chain, 0x12345678, 32), level ? 0xFFFFFFFFu : 0u);
        EXPECT_EQ(ir_scan(chain, 0xF, 4), level ? 0xFu : 0u);
        chain.go_to(S::ShiftDr);
        EXPECT_EQ(chain.clock(false, true), level != 0);
    }
}

// Long bulk shifts cross the chain's internal pieces and 64-bit words; a row of bypass stages
// must delay the stream by exactly one bit each.
TEST(TapChain, BulkShiftThroughBypassStagesDelaysStream) {
    TapChain chain;
    for (int i = 0; i < 3; ++i) chain.add(std::make_unique<BypassOnlyDevice>());
    const size_t nbits = (size_t{1} << 19) + 77;
    std::vector<uint8_t> tdi(bytes_for_bits(nbits)), tdo(tdi.size());
    std::mt19937 rng(7);
    for (auto& b : tdi) b = static_cast<uint8_t>(rng());
    chain.go_to(S::ShiftDr);
    chain.shift(tdi.data(), tdo.data(), nbits, false);
    for (size_t i = 0; i < 3; ++i) ASSERT_FALSE(get_bit(tdo.data(), i));
    for (size_t i = 3; i < nbits; ++i) ASSERT_EQ(get_bit(tdo.data(), i), get_bit(tdi.data(), i - 3)) << i;
    // Shifting on keeps the three bits that were still in flight.
    std::vector<uint8_t> zeros(1, 0), out(1, 0);
    chain.shift(zeros.data(), out.data(), 3, true);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(get_bit(out.data(), i), get_bit(tdi.data(), nbits - 3 + i));
    EXPECT_EQ(chain.state(), S::Exit1Dr);
}

// The same TMS/TDI sequence clocked bit by bit and sent through the bulk calls gives the same
// TDO and leaves the devices in the same state.
TEST(TapChain, BitLevelAndBulkAgree) {
    auto make = [] {
        auto c = std::make_unique<TapChain>();
        c->add(std::make_unique<ArmDap>());
        c->add(std::make_unique<BypassOnlyDevice>(5));
        c->add(std::make_unique<ArmDap>());
        return c;
    };
    auto bulk = make(), bits = make();
    std::mt19937 rng(3);
    std::vector<uint8_t> tdi(40);
    for (auto& b : tdi) b = static_cast<uint8_t>(rng());
    const size_t n = 301;
    std::vector<uint8_t> a(tdi.size(), 0), b(tdi.size(), 0);

    for (auto* c : {bulk.get(), bits.get()}) {
        c->go_to(S::ShiftIr);
        for (int i = 0; i < 13; ++i) c->clock(i == 12, i % 4 != 0);  // DAP at TDO: IDCODE; DAP at TDI: an unused code
        c->go_to(S::ShiftDr);
    }
    bulk->shift(tdi.data(), a.data(), n, true);
    for (size_t i = 0; i < n; ++i) put_bit(b.data(), i, bits->clock(i + 1 == n, get_bit(tdi.data(), i)));
    EXPECT_EQ(a, b);
    EXPECT_EQ(bulk->state(), bits->state());
    EXPECT_EQ(bulk->tck_count(), bits->tck_count());
    EXPECT_EQ(test::dr_scan(*bulk, 0, 64), test::dr_scan(*bits, 0, 64));
}

TEST(TapChain, ModeledTimeFollowsTckAndWaits) {
    TapChain chain(6'000'000);
    chain.add(std::make_unique<BypassOnlyDevice>());
    chain.go_to(S::RunTestIdle);
    const uint64_t t0 = chain.tck_count();
    chain.run_clocks(6'000'000);
    EXPECT_EQ(chain.tck_count() - t0, 6'000'000u);
    EXPECT_EQ(chain.now_ns(), 1'000'000'000u + (t0 * 1'000'000'000 / 6'000'000));
    chain.wait_ns(500);
    const uint64_t before = chain.now_ns();
    chain.set_tck_hz(30'000'000);
    chain.run_clocks(3);
    EXPECT_EQ(chain.now_ns(), before + 100);
    EXPECT_EQ(chain.state(), S::RunTestIdle);
}

TEST(TapChain, RunClocksLeavesUnstableStatesBitByBit) {
    TapChain chain;
    chain.add(std::make_unique<ArmDap>());
    chain.go_to(S::RunTestIdle);
    chain.run_clocks(3, true);  // Select-DR, Select-IR, Test-Logic-Reset
    EXPECT_EQ(chain.state(), S::TestLogicReset);
    chain.go_to(S::ShiftDr);
    chain.run_clocks(40, false, true);  // fills the 32-bit IDCODE register with ones
    std::vector<uint8_t> zeros(4, 0), out(4, 0);
    chain.shift(zeros.data(), out.data(), 32, true);
    EXPECT_EQ(test::unpack(out, 32), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace vireo::sim
