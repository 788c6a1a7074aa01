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

uint8_t reverse_bits(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
    return r;
}

// Drives the FPGA at `index` of a chain whose other devices stay in BYPASS.
class ChainProgrammer {
public:
    ChainProgrammer(TapChain& chain, size_t index) : chain_(chain), index_(index) {
        for (size_t i = 0; i < chain.size(); ++i) {
            if (i > index) ir_offset_ += chain.device(i).ir_length();
            if (i < index) bypass_before_ += 1;
        }
        fpga_ = dynamic_cast<XilinxFpga*>(&chain.device(index));
    }

    // Loads the FPGA instruction (all ones elsewhere); returns the FPGA's IR capture.
    uint64_t load(XI instr) {
        const size_t total = static_cast<size_t>(chain_.total_ir_length());
        uint64_t ir = total == 64 ? ~0ull : (1ull << total) - 1;
        ir &= ~(0x3Full << ir_offset_);
        ir |= uint64_t{instruction_code(fpga_->part().family, instr)} << ir_offset_;
        return (test::ir_scan(chain_, ir, total) >> ir_offset_) & 0x3F;
    }

    // Image bytes leave MSB first; the bypass stages on the TDI side keep the padding bits.
    void shift_image(const std::vector<uint8_t>& image) {
        const size_t nbits = image.size() * 8 + bypass_before_;
        std::vector<uint8_t> tdi(bytes_for_bits(nbits), 0);
        for (size_t i = 0; i < image.size(); ++i) tdi[i] = reverse_bits(image[i]);
        chain_.go_to(TapState::ShiftDr);
        chain_.shift(tdi.data(), nullptr, nbits, true);
        chain_.go_to(TapState::RunTestIdle);
    }

    bool wait_for_init() {
        for (int poll = 0; poll < 1000; ++poll) {
            if (load(XI::Bypass) & test::kInit) return true;
            chain_.run_clocks(3000);
        }
        return false;
    }

    uint64_t configure(const std::vector<uint8_t>& image) {
        load(XI::Jprogram);
        EXPECT_TRUE(wait_for_init());
        load(XI::CfgIn);
        shift_image(image);
        load(XI::Jstart);
        chain_.run_clocks(2000);
        return load(XI::Bypass);
    }

    XilinxFpga& fpga() { return *fpga_; }

private:
    TapChain& chain_;
    size_t index_;
    XilinxFpga* fpga_ = nullptr;
    int ir_offset_ = 0;
    size_t bypass_before_ = 0;
};

constexpr uint64_t kConfigured = 0b01 | test::kIscDone | test::kInit | test::kDone;

TEST(FpgaConfig, EveryPartConfiguresThroughTheTap) {
    for (const XilinxPart& part : xilinx_parts()) {
        TapChain chain;
        chain.add(std::make_unique<XilinxFpga>(part));
        ChainProgrammer prog(chain, 0);
        const auto image = make_config_image(part, {});
        const uint64_t t0 = chain.tck_count();
        EXPECT_EQ(prog.configure(image), kConfigured) << part.name;
        EXPECT_TRUE(prog.fpga().engine().design().configured) << part.name;
        EXPECT_GE(chain.tck_count() - t0, image.size() * 8 + 2000) << part.name;
    }
}

TEST(FpgaConfig, BypassStagesAroundTheFpgaAndZynqDap) {
    TapChain s6;
    s6.add(std::make_unique<BypassOnlyDevice>(8));
    s6.add(std::make_unique<XilinxFpga>(*find_xilinx_part("XC6SLX16")));
    s6.add(std::make_unique<BypassOnlyDevice>(5));
    ChainProgrammer p6(s6, 1);
    EXPECT_EQ(p6.configure(make_config_image(p6.fpga().part(), {})), kConfigured);

    TapChain zynq;
    zynq.add(std::make_unique<ArmDap>());
    zynq.add(std::make_unique<XilinxFpga>(*find_xilinx_part("XC7Z020")));
    ChainProgrammer pz(zynq, 1);
    EXPECT_EQ(pz.configure(make_config_image(pz.fpga().part(), {})), kConfigured);
}

TEST(FpgaConfig, BadImageLeavesDeviceUnconfigured) {
    test::FpgaBench b("XC7A35T");
    ChainProgrammer prog(b.chain, 0);
    BitgenOptions bad;
    bad.bad_crc = true;
    const uint64_t cap = prog.configure(make_config_image(b.fpga->part(), bad));
    EXPECT_EQ(cap & (test::kDone | test::kInit), 0u);
}

TEST(FpgaConfig, JtagClockedStartupNeedsJstartClocks) {
    test::FpgaBench b("XC7A100T");
    ChainProgrammer prog(b.chain, 0);
    BitgenOptions opt;
    opt.jtag_startup_clock = true;
    prog.load(XI::Jprogram);
    ASSERT_TRUE(prog.wait_for_init());
    prog.load(XI::CfgIn);
    prog.shift_image(make_config_image(b.fpga->part(), opt));
    b.chain.run_clocks(10'000);  // Run-Test/Idle under CFG_IN does not clock the sequencer
    EXPECT_FALSE(prog.load(XI::Bypass) & test::kDone);
    prog.load(XI::Jstart);
    b.chain.run_clocks(2000);
    EXPECT_EQ(prog.load(XI::Bypass), kConfigured);
}

// STAT readback over CFG_IN / CFG_OUT, once in bulk and once clocked bit by bit.
uint32_t read_stat(TapChain& chain, ChainProgrammer& prog, bool bitwise) {
    const uint32_t words[] = {0xFFFFFFFF, 0xAA995566, 0x20000000, 0x2800E001, 0x20000000, 0x20000000};
    std::vector<uint8_t> tdi(sizeof words, 0);
    for (size_t w = 0; w < 6; ++w)
        for (int b = 0; b < 32; ++b) put_bit(tdi.data(), w * 32 + b, (words[w] >> (31 - b)) & 1);
    std::vector<uint8_t> zeros(4, 0), out(4, 0);
    auto shift = [&](const uint8_t* in, uint8_t* o, size_t n) {
        chain.go_to(TapState::ShiftDr);
        if (!bitwise) chain.shift(in, o, n, true);
        for (size_t i = 0; bitwise && i < n; ++i) put_bit(o, i, chain.clock(i + 1 == n, get_bit(in, i)));
        chain.go_to(TapState::RunTestIdle);
    };
    prog.load(XI::CfgIn);
    std::vector<uint8_t> ignored(tdi.size());
    shift(tdi.data(), ignored.data(), 6 * 32);
    prog.load(XI::CfgOut);
    shift(zeros.data(), out.data(), 32);
    uint32_t stat = 0;
    for (int b = 0; b < 32; ++b) stat = (stat << 1) | get_bit(out.data(), static_cast<size_t>(b));
    return stat;
}

TEST(FpgaConfig, StatReadbackSameBitwiseAndBulk) {
    test::FpgaBench a("XC7A100T"), b("XC7A100T");
    ChainProgrammer pa(a.chain, 0), pb(b.chain, 0);
    const uint32_t bulk = read_stat(a.chain, pa, false);
    EXPECT_EQ(bulk, a.fpga->engine().stat());
    EXPECT_EQ(bulk, read_stat(b.chain, pb, true));
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
        ChainProgrammer prog(b.chain, 0);
        prog.load(XI::User1);
        EXPECT_EQ(test::dr_scan(b.chain, 0xF0, 8), 0xE0u);  // blank: empty BSCAN
        BitgenOptions opt;
        opt.spi_bridge = true;
        ASSERT_EQ(prog.configure(make_config_image(b.fpga->part(), opt)), kConfigured) << name;
        ASSERT_TRUE(b.fpga->engine().design().spi_bridge);
        EXPECT_TRUE(bridge->log.empty());
        prog.load(XI::User1);
        EXPECT_EQ(test::dr_scan(b.chain, 0xF0, 8), 0x0Fu);
        prog.load(XI::User2);
        test::dr_scan(b.chain, 0, 3);
        prog.load(XI::User3);
        EXPECT_EQ(test::dr_scan(b.chain, 0xF0, 8), 0xE0u);
        const std::vector<RecordingBscan::Event> want = {
            {'C', 1, 0}, {'S', 1, 8}, {'U', 1, 0}, {'C', 2, 0}, {'S', 2, 3}, {'U', 2, 0}};
        EXPECT_EQ(bridge->log, want) << name;
        prog.load(XI::Usercode);
        EXPECT_EQ(test::dr_scan(b.chain, 0, 32), b.fpga->engine().design().usercode);
    }
}

TEST(FpgaConfig, PlainDesignAnswersUserLikeEmptyBscan) {
    test::FpgaBench b("XC7A100T");
    auto bridge = std::make_shared<RecordingBscan>();
    b.fpga->set_bscan_user(bridge);
    ChainProgrammer prog(b.chain, 0);
    ASSERT_EQ(prog.configure(make_config_image(b.fpga->part(), {})), kConfigured);
    prog.load(XI::User1);
    EXPECT_EQ(test::dr_scan(b.chain, 0xF0, 8), 0xE0u);
    EXPECT_TRUE(bridge->log.empty());
}

}  // namespace
}  // namespace vireo::sim
