// Configuring the virtual FPGAs through the TAP the way a programmer does: JPROGRAM, poll INIT,
// CFG_IN with the whole image in one Shift-DR, JSTART, then DONE in the IR capture.
#include <gtest/gtest.h>

#include <tuple>

#include "fpga_helpers.h"
#include "sim/arm_dap.h"
#include "sim/bitgen.h"
#include "sim/bypass_device.h"

namespace vireo::sim {
namespace {

using XI = XilinxInstr;

using test::FpgaDriver;
using test::kConfigured;

TEST(FpgaConfig, EveryPartConfiguresThroughTheTap) {
    for (const XilinxPart& part : xilinx_parts()) {
        test::FpgaBench b(part.name);
        const auto image = make_config_image(part, {});
        EXPECT_EQ(b.configure(image), kConfigured) << part.name;
        EXPECT_TRUE(b.fpga->engine().design().configured) << part.name;
        EXPECT_GE(b.chain.tck_count(), image.size() * 8 + 2000) << part.name;
    }
}

TEST(FpgaConfig, BypassStagesAroundTheFpgaAndZynqDap) {
    TapChain s6;
    s6.add(std::make_unique<BypassOnlyDevice>(8));
    s6.add(std::make_unique<XilinxFpga>(*find_xilinx_part("XC6SLX16")));
    s6.add(std::make_unique<BypassOnlyDevice>(5));
    FpgaDriver p6(s6, 1);
    EXPECT_EQ(p6.configure(make_config_image(p6.fpga().part(), {})), kConfigured);

    TapChain zynq;
    zynq.add(std::make_unique<ArmDap>());
    zynq.add(std::make_unique<XilinxFpga>(*find_xilinx_part("XC7Z020")));
    FpgaDriver pz(zynq, 1);
    EXPECT_EQ(pz.configure(make_config_image(pz.fpga().part(), {})), kConfigured);
}

TEST(FpgaConfig, JtagClockedStartupNeedsJstartClocks) {
    test::FpgaBench b("XC7A100T");
    BitgenOptions opt;
    opt.jtag_startup_clock = true;
    b.load(XI::Jprogram);
    ASSERT_TRUE(b.wait_for_init());
    b.load(XI::CfgIn);
    b.shift_image(make_config_image(b.fpga->part(), opt));
    b.chain.run_clocks(10'000);  // Run-Test/Idle under CFG_IN does not clock the sequencer
    EXPECT_FALSE(b.status() & test::kDone);
    b.load(XI::Jstart);
    b.chain.run_clocks(2000);
    EXPECT_EQ(b.status(), kConfigured);
}

// STAT readback over CFG_IN / CFG_OUT, once in bulk and once clocked bit by bit.
uint32_t read_stat(test::FpgaBench& bench, bool bitwise) {
    TapChain& chain = bench.chain;
    const uint32_t words[] = {0xFFFFFFFF, 0xAA995566, 0x20000000,
                              0x2800E001, 0x20000000, 0x20000000};
    std::vector<uint8_t> tdi(sizeof words, 0);
    for (size_t w = 0; w < 6; ++w)
        for (int b = 0; b < 32; ++b) put_bit(tdi.data(), w * 32 + b, (words[w] >> (31 - b)) & 1);
    std::vector<uint8_t> zeros(4, 0), out(4, 0);
    auto shift = [&](const uint8_t* in, uint8_t* o, size_t n) {
        chain.go_to(TapState::ShiftDr);
        if (!bitwise) chain.shift(in, o, n, true);
        for (size_t i = 0; bitwise && i < n; ++i)
            put_bit(o, i, chain.clock(i + 1 == n, get_bit(in, i)));
        chain.go_to(TapState::RunTestIdle);
    };
    bench.load(XI::CfgIn);
    std::vector<uint8_t> ignored(tdi.size());
    shift(tdi.data(), ignored.data(), 6 * 32);
    bench.load(XI::CfgOut);
    shift(zeros.data(), out.data(), 32);
    uint32_t stat = 0;
    for (int b = 0; b < 32; ++b) stat = (stat << 1) | get_bit(out.data(), static_cast<size_t>(b));
    return stat;
}

TEST(FpgaConfig, StatReadbackSameBitwiseAndBulk) {
    test::FpgaBench a("XC7A100T"), b("XC7A100T");
    const uint32_t bulk = read_stat(a, false);
    EXPECT_EQ(bulk, a.fpga->engine().stat());
    EXPECT_EQ(bulk, read_stat(b, true));
    EXPECT_NE(bulk, 0u);
}

// Records calls as (kind, user, bits) and inverts what it shifts.
class RecordingBscan final : public BscanUser {
  public:
    using Event = std::tuple<char, int, size_t>;
    void capture(int user) override { log.emplace_back('C', user, 0); }
    void shift(int user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) override {
        log.emplace_back('S', user, nbits);
        for (size_t i = 0; i < nbits; ++i) put_bit(tdo, i, !get_bit(tdi, i));
    }
    void update(int user) override { log.emplace_back('U', user, 0); }
    std::vector<Event> log;
};

TEST(FpgaConfig, BridgeDesignGetsUser1AndUser2) {
    for (const char* name : {"XC6SLX45", "XC7A100T"}) {
        test::FpgaBench b(name);
        auto bridge = std::make_shared<RecordingBscan>();
        b.fpga->set_bscan_user(bridge);
        b.load(XI::User1);
        EXPECT_EQ(test::dr_scan(b.chain, 0xF0, 8), 0xE0u);  // blank: empty BSCAN
        BitgenOptions opt;
        opt.spi_bridge = true;
        ASSERT_EQ(b.configure(make_config_image(b.fpga->part(), opt)), kConfigured) << name;
        ASSERT_TRUE(b.fpga->engine().design().spi_bridge);
        EXPECT_TRUE(bridge->log.empty());
        b.load(XI::User1);
        EXPECT_EQ(test::dr_scan(b.chain, 0xF0, 8), 0x0Fu);
        b.load(XI::User2);
        test::dr_scan(b.chain, 0, 3);
        b.load(XI::User3);
        EXPECT_EQ(test::dr_scan(b.chain, 0xF0, 8), 0xE0u);
        const std::vector<RecordingBscan::Event> want = {{'C', 1, 0}, {'S', 1, 8}, {'U', 1, 0},
                                                         {'C', 2, 0}, {'S', 2, 3}, {'U', 2, 0}};
        EXPECT_EQ(bridge->log, want) << name;
        b.load(XI::Usercode);
        EXPECT_EQ(test::dr_scan(b.chain, 0, 32), b.fpga->engine().design().usercode);
    }
}

}  // namespace
}  // namespace vireo::sim
