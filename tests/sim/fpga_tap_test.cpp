// The Xilinx FPGA TAP: identification, the instruction set of each family, boundary scan,
// device DNA, USER registers and JPROGRAM.
#include <gtest/gtest.h>

#include "fpga_helpers.h"

namespace vireo::sim {
namespace {

using test::dr_length;
using test::dr_scan;
using test::FpgaBench;
using XI = XilinxInstr;

TEST(FpgaTap, IdcodeAfterResetAndOnRequest) {
    for (const char* name : {"XC6SLX16", "XC7A100T", "XC7S50"}) {
        FpgaBench b(name);
        EXPECT_EQ(dr_scan(b.chain, 0, 32), b.fpga->part().idcode) << name;
        const uint64_t cap = b.load(XI::Usercode);
        EXPECT_EQ(cap & (3 | test::kDone | test::kIscDone | test::kIscEnabled), 1u);
        EXPECT_EQ(dr_scan(b.chain, 0, 32), 0xFFFFFFFFu);  // USERCODE of a blank device
        b.fpga->set_revision(3);
        b.load(XI::Bypass);
        EXPECT_EQ(dr_length(b.chain, 64), 1u);
        b.load(XI::Idcode);
        EXPECT_EQ(dr_scan(b.chain, 0, 32), b.fpga->part().idcode | 0x30000000u) << name;
        b.chain.go_to(TapState::TestLogicReset);
        EXPECT_EQ(b.fpga->instruction(), XI::Idcode);
    }
}

// Register lengths behind per-family and reserved opcodes: what the families do not
// implement answers as BYPASS.
TEST(FpgaTap, OpcodeMapsDifferBetweenFamilies) {
    struct Case {
        uint8_t code;
        size_t s6, s7;
    };
    const Case cases[] = {
        {0x0F, 0, 1},  {0x26, 1, 0},   // EXTEST (0 = boundary length)
        {0x30, 57, 1}, {0x17, 1, 57},  // ISC_DNA on Spartan-6, XSC_DNA on 7-series
        {0x32, 1, 64},                 // FUSE_DNA
        {0x10, 5, 5},  {0x14, 5, 5},   // ISC_ENABLE, ISC_NOOP
        {0x00, 1, 1},  {0x07, 1, 1},  {0x11, 1, 1}, {0x15, 1, 1}, {0x37, 1, 1},
        {0x3E, 1, 1},  {0x1A, 1, 1},  {0x22, 1, 1},  // USER3 in either family: empty BSCAN
    };
    for (const char* name : {"XC6SLX45", "XC7K160T"}) {
        FpgaBench b(name);
        const bool s6 = b.fpga->part().family == Family::Spartan6;
        const size_t bsr = static_cast<size_t>(b.fpga->part().bsr_len);
        for (const Case& c : cases) {
            test::ir_scan(b.chain, c.code, 6);
            const size_t want = (s6 ? c.s6 : c.s7) ? (s6 ? c.s6 : c.s7) : bsr;
            EXPECT_EQ(dr_length(b.chain, bsr + 8), want) << name << " opcode " << int(c.code);
        }
    }
}

TEST(FpgaTap, SampleReadsPinsAndExtestDrivesPreload) {
    FpgaBench b("XC7A200T");
    const size_t n = static_cast<size_t>(b.fpga->part().bsr_len);
    std::vector<bool> pins(n), preload(n);
    std::vector<uint8_t> tdi(bytes_for_bits(n), 0);
    for (size_t j = 0; j < n; ++j) {
        pins[j] = (j * 7) % 3 == 0;
        preload[j] = j % 5 == 0;
        put_bit(tdi.data(), j, preload[j]);
    }
    auto cells = [&](const std::vector<uint8_t>& bytes) {
        std::vector<bool> v(n);
        for (size_t j = 0; j < n; ++j) v[j] = get_bit(bytes.data(), j);
        return v;
    };
    b.fpga->set_pin_inputs(pins);
    b.load(XI::Sample);
    EXPECT_EQ(cells(test::scan(b.chain, TapState::ShiftDr, tdi, n)), pins);
    EXPECT_FALSE(b.fpga->extest_active());
    b.load(XI::Extest);
    EXPECT_TRUE(b.fpga->extest_active());
    EXPECT_EQ(b.fpga->boundary_outputs(), preload);
    EXPECT_EQ(cells(test::scan(b.chain, TapState::ShiftDr, tdi, n)), preload);  // pads read back
    b.load(XI::Highz);
    EXPECT_TRUE(b.fpga->outputs_tristated() && !b.fpga->extest_active());
    b.chain.go_to(TapState::TestLogicReset);
    EXPECT_FALSE(b.fpga->outputs_tristated());
}

// The identifier leaves most significant bit first.
uint64_t read_dna(FpgaBench& b, XI instr, size_t len) {
    b.load(instr);
    const auto out = test::scan(b.chain, TapState::ShiftDr, test::pack(0, len), len);
    uint64_t dna = 0;
    for (size_t i = len - XilinxFpga::kDnaBits; i < len; ++i)
        dna = (dna << 1) | get_bit(out.data(), i);
    for (size_t i = 0; i < len - XilinxFpga::kDnaBits; ++i) EXPECT_FALSE(get_bit(out.data(), i));
    return dna;
}

TEST(FpgaTap, DnaNeedsIscModeExceptFuseDna) {
    for (const char* name : {"XC6SLX45T", "XC7A100T"}) {
        FpgaBench b(name);
        b.fpga->set_dna(0x123456789ABCDEFull);
        EXPECT_EQ(read_dna(b, XI::Dna, 57), 0u) << name;
        b.load(XI::IscEnable);
        EXPECT_TRUE(b.status() & test::kIscEnabled);
        EXPECT_EQ(read_dna(b, XI::Dna, 57), 0x123456789ABCDEFull & ((1ull << 57) - 1)) << name;
        b.load(XI::IscDisable);
        EXPECT_FALSE(b.status() & test::kIscEnabled);
    }
    FpgaBench b("XC7Z020");
    EXPECT_EQ(read_dna(b, XI::FuseDna, 64), b.fpga->dna());
}

TEST(FpgaTap, JprogramHoldsInitLowForClearTime) {
    FpgaBench b("XC7A35T");
    const uint64_t clear = b.fpga->part().clear_ns;
    b.load(XI::Jprogram);
    const uint64_t t0 = b.chain.now_ns();
    const uint64_t cap = b.status();
    EXPECT_EQ(cap & (test::kInit | test::kDone), 0u);
    b.chain.wait_ns(clear - (b.chain.now_ns() - t0) - 1000);
    EXPECT_FALSE(b.status() & test::kInit);
    b.chain.run_clocks(30'000);  // 1 ms at 30 MHz
    EXPECT_TRUE(b.status() & test::kInit);
}

}  // namespace
}  // namespace vireo::sim
