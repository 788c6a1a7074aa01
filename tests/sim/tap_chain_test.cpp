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

TEST(TapController, StandardTransitions) {
    auto walk = [](TapState s, std::initializer_list<bool> tms) {
        for (bool b : tms) s = next_tap_state(s, b);
        return s;
    };
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(walk(static_cast<TapState>(s), {1, 1, 1, 1, 1}), S::TestLogicReset) << s;
    EXPECT_EQ(walk(S::RunTestIdle, {1, 0, 0}), S::ShiftDr);
    EXPECT_EQ(walk(S::RunTestIdle, {1, 1, 0, 0}), S::ShiftIr);
    EXPECT_EQ(walk(S::ShiftDr, {1, 0, 1, 0}), S::ShiftDr);   // Exit1, Pause, Exit2, Shift
    EXPECT_EQ(walk(S::ShiftIr, {1, 1, 0}), S::RunTestIdle);  // Exit1, Update, RTI
    EXPECT_EQ(walk(S::CaptureDr, {1, 1, 1}), S::SelectDrScan);
    for (auto s : {S::RunTestIdle, S::ShiftDr, S::PauseDr, S::ShiftIr, S::PauseIr})
        EXPECT_EQ(next_tap_state(s, false), s) << tap_state_name(s);
}

TEST(TapChain, BypassOnlyDeviceHasOneBitDrAndNoIdcode) {
    TapChain chain;
    chain.add(std::make_unique<BypassOnlyDevice>(8));
    EXPECT_TRUE(chain.clock(false, false));  // TDO is released outside the shift states
    EXPECT_EQ(dr_length(chain, 64), 1u);
    EXPECT_EQ(dr_scan(chain, 0xFFFFFFFF, 32), 0xFFFFFFFEu);  // captured 0, then the ones
    EXPECT_EQ(ir_scan(chain, 0x00, 8), 0x01u);
    EXPECT_EQ(dr_length(chain, 64), 1u);  // every instruction is BYPASS
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
    for (size_t i = 3; i < nbits; ++i)
        ASSERT_EQ(get_bit(tdo.data(), i), get_bit(tdi.data(), i - 3)) << i;
    // Shifting on keeps the three bits that were still in flight.
    std::vector<uint8_t> zeros(1, 0), out(1, 0);
    chain.shift(zeros.data(), out.data(), 3, true);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(get_bit(out.data(), i), get_bit(tdi.data(), nbits - 3 + i));
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
        for (int i = 0; i < 13; ++i)
            c->clock(i == 12, i % 4 != 0);  // DAP at TDO: IDCODE; DAP at TDI: an unused code
        c->go_to(S::ShiftDr);
    }
    bulk->shift(tdi.data(), a.data(), n, true);
    for (size_t i = 0; i < n; ++i)
        put_bit(b.data(), i, bits->clock(i + 1 == n, get_bit(tdi.data(), i)));
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
    chain.run_clocks(3, true);  // leaves Run-Test/Idle clock by clock, then stays in reset
    EXPECT_EQ(chain.state(), S::TestLogicReset);
    EXPECT_EQ(chain.now_ns(), before + 200);
}

}  // namespace
}  // namespace vireo::sim
