#include <gtest/gtest.h>

#include "config_test_util.h"
#include "sim/xilinx_parts.h"

namespace vireo::sim {
namespace {

using testing::Fpga;
using testing::msb_first;

const XilinxPart& part(const char* name) {
    return *find_xilinx_part(name);
}

// STAT bits by family.
struct StatBits {
    uint32_t crc_error, id_error, init_b, done, ghigh_b;
};
StatBits stat_bits(const XilinxPart& p) {
    if (p.family == Family::Series7) return {1u << 0, 1u << 15, 1u << 12, 1u << 14, 1u << 7};
    return {1u << 0, 1u << 1, 1u << 12, 1u << 13, 1u << 5};
}

std::vector<std::string> every_part_name() {
    std::vector<std::string> names;
    for (const XilinxPart& p : xilinx_parts()) names.push_back(p.name);
    return names;
}

class EveryPart : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryPart, BridgeImageConfiguresAndIsRecognised) {
    const XilinxPart& p = part(GetParam().c_str());
    BitgenOptions opt;
    opt.spi_bridge = true;
    const auto image = make_config_image(p, opt);
    ASSERT_EQ(image.size(), size_t{p.image_words} * bytes_per_word(p));

    Fpga fpga(p);
    fpga.configure(image);
    const StatBits b = stat_bits(p);
    EXPECT_TRUE(fpga.engine.done());
    EXPECT_TRUE(fpga.engine.isc_done());
    EXPECT_TRUE(fpga.engine.init());
    EXPECT_EQ(fpga.engine.stat() & (b.done | b.init_b | b.ghigh_b), b.done | b.init_b | b.ghigh_b);
    EXPECT_EQ(fpga.engine.stat() & (b.crc_error | b.id_error), 0u);
    EXPECT_EQ(fpga.engine.bootsts(), 1u);  // Status_0 = VALID
    EXPECT_TRUE(fpga.engine.design().configured);
    EXPECT_TRUE(fpga.engine.design().spi_bridge);
    EXPECT_EQ(fpga.engine.frames_written(), p.fdri_words / p.frame_words);
    EXPECT_EQ(fpga.count_logged("check passed"), 2u);
}

INSTANTIATE_TEST_SUITE_P(Table, EveryPart, ::testing::ValuesIn(every_part_name()),
                         [](const auto& info) { return info.param; });

class BothFamilies : public ::testing::TestWithParam<const char*> {
  protected:
    const XilinxPart& p() const { return part(GetParam()); }
    Fpga configured_with(const BitgenOptions& opt) const {
        Fpga fpga(p());
        fpga.configure(make_config_image(p(), opt));
        return fpga;
    }
};

TEST_P(BothFamilies, PlainDesignIsNotABridge) {
    Fpga fpga = configured_with({});
    EXPECT_TRUE(fpga.engine.done());
    EXPECT_FALSE(fpga.engine.design().spi_bridge);
}

TEST_P(BothFamilies, FaultsShowInStatAndBootHistory) {
    const StatBits b = stat_bits(p());
    struct Case {
        const char* what;
        BitgenOptions opt;
        uint32_t stat_set, stat_clear, bootsts;
    };
    BitgenOptions bad_crc, wrong_id, no_id, no_sync, truncated, bad_status;
    bad_crc.bad_crc = true;
    wrong_id.wrong_idcode = true;
    no_id.no_idcode = true;  // frame data reach FDRI unchecked
    no_sync.no_sync = true;
    truncated.truncate_bytes = 4000;
    bad_status.bad_status = true;
    const Case cases[] = {
        {"bad CRC", bad_crc, b.crc_error, b.init_b | b.done | b.id_error, 0x21},
        {"wrong IDCODE", wrong_id, b.id_error, b.init_b | b.done | b.crc_error, 0x11},
        {"no IDCODE", no_id, b.id_error, b.init_b | b.done | b.crc_error, 0x11},
        {"no sync", no_sync, b.init_b, b.done | b.crc_error | b.id_error, 0},
        {"truncated", truncated, b.init_b, b.done | b.ghigh_b, 0},
        {"no LFRM/START", bad_status, b.init_b, b.done | b.ghigh_b, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fpga fpga = configured_with(c.opt);
        EXPECT_FALSE(fpga.engine.done());
        EXPECT_FALSE(fpga.engine.isc_done());
        EXPECT_FALSE(fpga.engine.design().configured);
        EXPECT_EQ(fpga.engine.stat() & c.stat_set, c.stat_set);
        EXPECT_EQ(fpga.engine.stat() & c.stat_clear, 0u);
        EXPECT_EQ(fpga.engine.bootsts(), c.bootsts);
        EXPECT_EQ(fpga.engine.init(), (c.stat_set & b.init_b) != 0);
    }
}

TEST_P(BothFamilies, BitReversedImageNeverSyncs) {
    Fpga fpga(p());
    fpga.program_and_clear();
    fpga.shift_in(make_config_image(p(), {}));  // bytes sent LSB first
    fpga.wait(100'000);
    EXPECT_FALSE(fpga.engine.synced());
    EXPECT_FALSE(fpga.engine.done());
    EXPECT_EQ(fpga.engine.frames_written(), 0u);
    EXPECT_FALSE(fpga.logged("check"));
}

TEST_P(BothFamilies, FramingFollowsTheSyncWordInOddPieces) {
    // Three junk bits ahead of the image and pieces of 16381 bits: neither the sync word nor the
    // words after it fall on byte boundaries of the scans.
    const auto image = msb_first(make_config_image(p(), {}));
    std::vector<uint8_t> wire(image.size() + 1, 0);
    for (size_t i = 0; i < image.size(); ++i) {
        wire[i] |= static_cast<uint8_t>(image[i] << 3);
        wire[i + 1] |= static_cast<uint8_t>(image[i] >> 5);
    }
    Fpga fpga(p());
    fpga.program_and_clear();
    const size_t total = image.size() * 8 + 3;
    constexpr size_t kPiece = 16381;  // multiple of neither 8 nor the word size
    std::vector<uint8_t> piece((kPiece + 7) / 8);
    fpga.engine.dr_capture();
    for (size_t at = 0; at < total; at += kPiece) {
        const size_t n = std::min(kPiece, total - at);
        std::fill(piece.begin(), piece.end(), 0);
        for (size_t i = 0; i < n; ++i)
            if ((wire[(at + i) / 8] >> ((at + i) % 8)) & 1) piece[i / 8] |= uint8_t(1u << (i % 8));
        fpga.engine.cfg_in(piece.data(), n);
    }
    fpga.wait(100'000);
    EXPECT_TRUE(fpga.engine.done());
}

TEST_P(BothFamilies, DataWhileClearingIsIgnoredAndLogged) {
    Fpga fpga(p());
    fpga.engine.program(0);
    fpga.wait(p().clear_ns / 2);
    EXPECT_FALSE(fpga.engine.init());
    fpga.shift_in(msb_first(make_config_image(p(), {})));
    fpga.wait(p().clear_ns);
    EXPECT_TRUE(fpga.engine.init());
    EXPECT_FALSE(fpga.engine.done());
    EXPECT_TRUE(fpga.logged("ignored"));
}

TEST_P(BothFamilies, CclkStartupTakesModeledTime) {
    Fpga fpga(p());
    fpga.program_and_clear();
    fpga.shift_in(msb_first(make_config_image(p(), {})));
    EXPECT_FALSE(fpga.engine.done());
    fpga.wait(10'000);
    EXPECT_TRUE(fpga.engine.done());
}

TEST_P(BothFamilies, JtagStartupClockNeedsJstartClocks) {
    BitgenOptions opt;
    opt.jtag_startup_clock = true;
    Fpga fpga = configured_with(opt);
    EXPECT_FALSE(fpga.engine.done());
    fpga.engine.jtag_startup_clocks(3);
    EXPECT_FALSE(fpga.engine.isc_done());
    fpga.engine.jtag_startup_clocks(12);
    EXPECT_TRUE(fpga.engine.done());
    EXPECT_TRUE(fpga.engine.isc_done());
}

TEST_P(BothFamilies, JprogramForgetsTheDesignButKeepsBootHistory) {
    BitgenOptions opt;
    opt.spi_bridge = true;
    Fpga fpga = configured_with(opt);
    ASSERT_TRUE(fpga.engine.design().spi_bridge);
    fpga.engine.program(fpga.now);
    EXPECT_FALSE(fpga.engine.done());
    EXPECT_FALSE(fpga.engine.init());
    EXPECT_FALSE(fpga.engine.design().configured);
    EXPECT_FALSE(fpga.engine.design().spi_bridge);
    EXPECT_EQ(fpga.engine.bootsts(), 1u);
    fpga.wait(p().clear_ns);
    EXPECT_TRUE(fpga.engine.init());
}

// The IDCODE a first configuration checked does not carry over a JPROGRAM.
TEST_P(BothFamilies, FrameDataAfterJprogramNeedTheIdcodeAgain) {
    Fpga fpga = configured_with({});
    ASSERT_TRUE(fpga.engine.done());
    BitgenOptions no_id;
    no_id.no_idcode = true;
    fpga.configure(make_config_image(p(), no_id));
    const StatBits b = stat_bits(p());
    EXPECT_FALSE(fpga.engine.done());
    EXPECT_FALSE(fpga.engine.init());
    EXPECT_EQ(fpga.engine.stat() & (b.id_error | b.init_b | b.crc_error), b.id_error);
    EXPECT_EQ(fpga.engine.frames_written(), 0u);
    EXPECT_TRUE(fpga.logged("FDRI write before a matching IDCODE write"));
    // The failed attempt is the newest boot record, the first configuration the older one.
    EXPECT_EQ(fpga.engine.bootsts(), p().family == Family::Series7 ? 0x111u : 0x51u);
}

INSTANTIATE_TEST_SUITE_P(Families, BothFamilies, ::testing::Values("XC7A100T", "XC6SLX16"));

TEST(Series7, CompressedImageConfigures) {
    BitgenOptions opt;
    opt.compress = true;
    const auto image = make_config_image(part("XC7A100T"), opt);
    EXPECT_LT(image.size(), 1'000'000u);
    Fpga fpga(part("XC7A100T"));
    fpga.configure(image);
    EXPECT_TRUE(fpga.engine.done());
    EXPECT_GT(fpga.engine.frames_written(), 9000u);
}

}  // namespace
}  // namespace vireo::sim
