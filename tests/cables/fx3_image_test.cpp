// The checks an FX3 .img file passes before any of it reaches a boot loader.
#include "cables/fx3_image.h"

#include <gtest/gtest.h>

#include "sim/fx3_bootloader.h"

namespace vireo::test {
namespace {

using sim::fx3_image_bytes;

std::string parse(const std::vector<uint8_t>& bytes, Fx3Image* image = nullptr) {
    Fx3Image scratch;
    return fx3_image_parse(bytes.data(), bytes.size(), image ? image : &scratch);
}
std::string check(const std::vector<uint8_t>& bytes) {
    Fx3Image image;
    return fx3_image_check(bytes.data(), bytes.size(), &image);
}

TEST(Fx3Image, SectionsEntryAndTheStandInMarker) {
    Fx3Image image;
    const auto plain = fx3_image_bytes({{0x40003000, {0x11223344, 5}}, {0x100, {7}}}, 0x40003000);
    ASSERT_EQ(parse(plain, &image), "");
    ASSERT_EQ(image.sections.size(), 2u);
    EXPECT_EQ(image.sections[0].address, 0x40003000u);
    EXPECT_EQ(image.sections[0].data, std::vector<uint8_t>({0x44, 0x33, 0x22, 0x11, 5, 0, 0, 0}));
    EXPECT_EQ(image.sections[1].address, 0x100u) << "the I-TCM takes code too";
    EXPECT_EQ(image.entry, 0x40003000u);
    EXPECT_FALSE(image.stand_in);
    EXPECT_EQ(check(plain), "");

    const auto stand_in = sim::fx3_stand_in_image();
    ASSERT_EQ(parse(stand_in, &image), "") << "the virtual board takes it";
    EXPECT_TRUE(image.stand_in);
    EXPECT_EQ(check(stand_in),
              "this image is the VireoJTAG virtual board's stand-in, not firmware for real "
              "hardware");
}

TEST(Fx3Image, DamagedHeadersAndChecksums) {
    auto image = fx3_image_bytes({{0x40000000, {1, 2, 3}}}, 0x40000000);
    auto with = [&](size_t at, uint8_t value) {
        auto copy = image;
        copy[at] = value;
        return parse(copy);
    };
    EXPECT_EQ(with(0, 'X'), "not an FX3 image (no \"CY\" signature)");
    EXPECT_EQ(with(2, 0x1D), "FX3 image holds data only, not executable firmware");
    EXPECT_EQ(with(3, 0xB2), "FX3 image type is not 0xB0 (firmware with checksum)");
    EXPECT_EQ(with(12, 9), "FX3 image checksum is wrong") << "payload changed";
    EXPECT_EQ(with(image.size() - 1, 0x80), "FX3 image checksum is wrong");
    image.push_back(0);
    EXPECT_EQ(parse(image), "FX3 image has data after its checksum");
    EXPECT_EQ(parse(fx3_image_bytes({}, 0x40000000)), "FX3 image has no sections");
    EXPECT_EQ(parse(std::vector<uint8_t>(kFx3MaxImageBytes + 1)),
              "image larger than the FX3's 512 KB of RAM");
}

TEST(Fx3Image, EveryTruncationIsRefused) {
    const auto image = sim::fx3_stand_in_image();
    for (size_t n = 0; n < image.size(); ++n) {
        const std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<long>(n));
        EXPECT_NE(parse(cut), "") << n << " bytes";
    }
    // A word count far beyond the file, near the top of 32 bits.
    auto huge = fx3_image_bytes({{0x40000000, {1}}}, 0x40000000);
    huge[4] = huge[5] = huge[6] = huge[7] = 0xFF;
    EXPECT_EQ(parse(huge), "FX3 image is truncated");
}

TEST(Fx3Image, SectionsAndEntryMustLieInRam) {
    EXPECT_EQ(parse(fx3_image_bytes({{0x40080000, {1}}}, 0x40000000)),
              "FX3 image section lies outside RAM");
    EXPECT_EQ(parse(fx3_image_bytes({{0x4007FFFC, {1, 2}}}, 0x40000000)),
              "FX3 image section lies outside RAM")
        << "runs past the end";
    EXPECT_EQ(parse(fx3_image_bytes({{0x3FFFFFFC, {1}}}, 0x40000000)),
              "FX3 image section lies outside RAM");
    EXPECT_EQ(parse(fx3_image_bytes({{0x4007FFFC, {1}}}, 0x4007FFFC)), "") << "last word";
    EXPECT_EQ(parse(fx3_image_bytes({{0x40000002, {1}}}, 0x40000000)),
              "FX3 image section address is not word aligned");
    EXPECT_EQ(parse(fx3_image_bytes({{0x40000000, {1}}}, 0xFFFF0020)),
              "FX3 image entry point lies outside RAM");
}

}  // namespace
}  // namespace vireo::test
