// The traffic our own configuration modules send around an image: the 7-series status-read
// blocks and the Spartan-6 block that follows JPROGRAM.
#include <gtest/gtest.h>

#include "config_test_util.h"
#include "sim/xilinx_parts.h"

namespace vireo::sim {
namespace {

using testing::Fpga;
using testing::msb_first;
using testing::words_msb_first;

// Sync, read one register, CMD = 0xD0 (decodes as CRCC, so no DESYNC), NOOPs.
std::vector<uint8_t> status_block(uint32_t read_header) {
    return words_msb_first({0xFFFFFFFF, 0xAA995566, 0x20000000, read_header, 0x20000000, 0x20000000,
                            0x30008001, 0x000000D0, 0x20000000, 0x20000000});
}
constexpr uint32_t kReadBootsts = 0x2802C001;
constexpr uint32_t kReadStat = 0x2800E001;

struct Verdict {
    uint32_t bootsts, stat;
};
Verdict read_status(Fpga& fpga) {
    fpga.shift_in(status_block(kReadBootsts));
    const uint32_t bootsts = fpga.shift_out();
    fpga.shift_in(status_block(kReadStat));
    return {bootsts, fpga.shift_out()};
}

Fpga series7_after(const BitgenOptions& opt) {
    Fpga fpga(*find_xilinx_part("XC7A100T"));
    fpga.configure(make_config_image(fpga.engine.part(), opt));
    fpga.wait(10'000'000);
    return fpga;
}

TEST(Series7StatusRead, HealthyConfigurationPassesTheVerdict) {
    Fpga fpga = series7_after({});
    const Verdict v = read_status(fpga);
    EXPECT_EQ(v.bootsts & 0xF8, 0u);
    EXPECT_EQ(v.bootsts, fpga.engine.bootsts());
    EXPECT_EQ(v.stat & 0x1880, 0x1880u);
    EXPECT_EQ(v.stat, fpga.engine.stat());
    EXPECT_TRUE(fpga.engine.done());  // reading status does not disturb the design
}

TEST(Series7StatusRead, FaultsReachTheVerdictBits) {
    BitgenOptions bad_crc, bad_status;
    bad_crc.bad_crc = true;
    bad_status.bad_status = true;

    Fpga crc = series7_after(bad_crc);
    const Verdict c = read_status(crc);
    EXPECT_EQ(c.bootsts & 0xF8, 1u << 5);
    EXPECT_EQ(c.stat & (1u << 12), 0u);
    EXPECT_NE(c.stat & 1u, 0u);

    Fpga status = series7_after(bad_status);
    const Verdict s = read_status(status);
    EXPECT_EQ(s.bootsts & 0xF8, 0u);
    EXPECT_EQ(s.stat & 0x1880, 0x1800u);  // interconnect still high-Z
}

TEST(Series7StatusRead, OtherRegistersReadBackThroughCfgOut) {
    Fpga fpga = series7_after({});
    // IDCODE (0x0C) reads the die's code; COR0 (0x09) what the image wrote.
    fpga.shift_in(words_msb_first(
        {0xFFFFFFFF, 0xAA995566, 0x20000000, 0x28018001, 0x28012001, 0x20000000, 0x20000000}));
    std::vector<uint8_t> out(8);
    fpga.engine.dr_capture();
    fpga.engine.cfg_out(out.data(), 64);
    uint64_t v = 0;
    for (unsigned i = 0; i < 64; ++i) v = (v << 1) | ((out[i / 8] >> (i % 8)) & 1);
    EXPECT_EQ(v, (uint64_t{0x03631093} << 32) | 0x02003FE5);
    EXPECT_EQ(fpga.shift_out(), 0u);  // nothing queued any more
}

// Block A: FFFFFFFF AA995566 30008001 00000007 00000000 00000000 (32-bit words);
// block B: 30008001 00000008 00000000 00000000, directly followed by the image in one scan.
const std::vector<uint8_t> kBlockA =
    words_msb_first({0xFFFFFFFF, 0xAA995566, 0x30008001, 0x00000007, 0x00000000, 0x00000000});
const std::vector<uint8_t> kBlockB =
    words_msb_first({0x30008001, 0x00000008, 0x00000000, 0x00000000});

void spartan6_write(Fpga& fpga, uint64_t ns_before_block_a) {
    fpga.engine.program(fpga.now);
    fpga.wait(ns_before_block_a);
    fpga.shift_in(kBlockA);
    fpga.engine.jtag_shutdown_clocks(12);
    fpga.wait(fpga.engine.part().clear_ns);
    std::vector<uint8_t> scan = kBlockB;
    const auto image = msb_first(make_config_image(fpga.engine.part(), {}));
    scan.insert(scan.end(), image.begin(), image.end());
    fpga.shift_in(scan);
    fpga.wait(100'000);
}

TEST(Spartan6BlockA, IgnoredWhileClearing) {
    Fpga fpga(*find_xilinx_part("XC6SLX16"));
    spartan6_write(fpga, fpga.engine.part().clear_ns / 2);
    EXPECT_TRUE(fpga.logged("ignored"));
    EXPECT_TRUE(fpga.engine.done());
}

TEST(Spartan6BlockA, AfterClearingTheImageSyncWordResynchronises) {
    Fpga fpga(*find_xilinx_part("XC6SLX16"));
    spartan6_write(fpga, 5'000'000);
    EXPECT_FALSE(fpga.logged("ignored"));
    EXPECT_TRUE(fpga.logged("re-synchronised"));
    EXPECT_TRUE(fpga.engine.done());
    EXPECT_EQ(fpga.engine.stat() & 0x3001, 0x3000u);  // DONE, INIT_B, no CRC error
}

TEST(Spartan6StatusRead, StatReadsAs16BitWord) {
    Fpga fpga(*find_xilinx_part("XC6SLX9"));
    fpga.configure(make_config_image(fpga.engine.part(), {}));
    // Sync, read STAT (0x2901), NOOPs, as half-words.
    fpga.shift_in(words_msb_first({0xFFFFFFFF, 0xAA995566, 0x29012000, 0x20002000}));
    EXPECT_EQ(fpga.shift_out(16), fpga.engine.stat());
    EXPECT_EQ(fpga.engine.stat(), 0x373Cu);  // the value a configured XC6SLX9 reads back
}

TEST(PartTable, LookupByNameAndIdcode) {
    EXPECT_STREQ(find_xilinx_part("xc7a100tcsg324")->name, "XC7A100T");
    EXPECT_STREQ(find_xilinx_part("7a100tfgg484")->name, "XC7A100T");
    EXPECT_STREQ(find_xilinx_part("XC7S50_CSGA324")->name, "XC7S50");
    EXPECT_STREQ(find_xilinx_part("xc6slx45csg324")->name, "XC6SLX45");
    EXPECT_STREQ(find_xilinx_part("xc6slx4tqg144")->name, "XC6SLX4");
    EXPECT_STREQ(find_xilinx_part("xc6slx25tcsg324")->name, "XC6SLX25T");
    EXPECT_EQ(find_xilinx_part("XC7A1"), nullptr);
    EXPECT_EQ(find_xilinx_part("xc7k420t"), nullptr);
    EXPECT_STREQ(find_xilinx_part(0x23727093u)->name, "XC7Z020");
    EXPECT_EQ(find_xilinx_part(0x4BA00477u), nullptr);
    for (const XilinxPart& p : xilinx_parts()) {
        EXPECT_EQ(find_xilinx_part(p.idcode), &p) << p.name;
        EXPECT_EQ(find_xilinx_part(p.name), &p) << p.name;
    }
}

}  // namespace
}  // namespace vireo::sim
