// The checks an FX3 .img file passes before any of it reaches a boot loader.
#include "cables/fx3_image.h"

#include <gtest/gtest.h>

#include "sim/fx3_bootloader.h"

namespace vireo::test {
namespace {

using sim::fx3_image_bytes;
using Bytes = std::vector<uint8_t>;

std::string parse(const Bytes& bytes, Fx3Image* image = nullptr) {
    Fx3Image scratch;
    return fx3_image_parse(bytes.data(), bytes.size(), image ? image : &scratch);
}

TEST(Fx3Image, SectionsEntryAndTheStandInRefusedForRealHardware) {
    Fx3Image image;
    const Bytes plain = fx3_image_bytes({{0x40003000, {0x11223344, 5}}, {0x100, {7}}}, 0x40003000);
    ASSERT_EQ(parse(plain, &image), "");
    ASSERT_EQ(image.sections.size(), 2u);
    EXPECT_EQ(image.sections[0].address, 0x40003000u);
    EXPECT_EQ(image.sections[0].data, Bytes({0x44, 0x33, 0x22, 0x11, 5, 0, 0, 0}));
    EXPECT_EQ(image.sections[1].address, 0x100u) << "the I-TCM takes code too";
    EXPECT_EQ(image.entry, 0x40003000u);
    EXPECT_EQ(fx3_image_check(plain.data(), plain.size(), &image), "");

    const Bytes stand_in = sim::fx3_stand_in_image();
    ASSERT_EQ(parse(stand_in, &image), "") << "the virtual board takes it";
    EXPECT_EQ(fx3_image_check(stand_in.data(), stand_in.size(), &image),
              "this image is the VireoJTAG virtual board's stand-in, not firmware for real "
              "hardware");
}

TEST(Fx3Image, DamagedImagesAreRefused) {
    const Bytes good = fx3_image_bytes({{0x40000000, {1, 2, 3}}}, 0x40000000);
    auto with = [&](size_t at, uint8_t value) {
        Bytes copy = good;
        copy[at] = value;
        return copy;
    };
    Bytes trailing = good, huge_count = good;
    trailing.push_back(0);
    huge_count[4] = huge_count[5] = huge_count[6] = huge_count[7] = 0xFF;
    const std::pair<Bytes, std::string> cases[] = {
        {with(0, 'X'), "not an FX3 image (no \"CY\" signature)"},
        {with(2, 0x1D), "FX3 image holds data only, not executable firmware"},
        {with(3, 0xB2), "FX3 image type is not 0xB0 (firmware with checksum)"},
        {with(12, 9), "FX3 image checksum is wrong"},
        {with(good.size() - 1, 0x80), "FX3 image checksum is wrong"},
        {trailing, "FX3 image has data after its checksum"},
        {huge_count, "FX3 image is truncated"},
        {fx3_image_bytes({}, 0x40000000), "FX3 image has no sections"},
        {Bytes(kFx3MaxImageBytes + 1), "image larger than the FX3's 512 KB of RAM"},
        {fx3_image_bytes({{0x40080000, {1}}}, 0x40000000), "FX3 image section lies outside RAM"},
        {fx3_image_bytes({{0x4007FFFC, {1, 2}}}, 0x40000000), "FX3 image section lies outside RAM"},
        {fx3_image_bytes({{0x3FFFFFFC, {1}}}, 0x40000000), "FX3 image section lies outside RAM"},
        {fx3_image_bytes({{0x4007FFFC, {1}}}, 0x4007FFFC), ""},
        {fx3_image_bytes({{0x40000002, {1}}}, 0x40000000),
         "FX3 image section address is not word aligned"},
        {fx3_image_bytes({{0x40000000, {1}}}, 0xFFFF0020),
         "FX3 image entry point lies outside RAM"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(parse(cases[i].first), cases[i].second) << i;

    const Bytes image = sim::fx3_stand_in_image();
    for (size_t n = 0; n < image.size(); ++n)
        EXPECT_NE(parse(Bytes(image.begin(), image.begin() + static_cast<long>(n))), "") << n;
}

}  // namespace
}  // namespace vireo::test
