#include "format_files.h"
#include "formats/hexfile.h"

namespace vireo::test {
namespace {

class SrecordRead : public FormatFileTest {
  protected:
    // Reads text into a buffer (fill 0xFF) with guard bytes behind it and behind the info text.
    int srec(const std::string& text, int64_t size = 0x100, int64_t base_in = 0,
             int info_size = 100) {
        image.assign(size + 16, 0);
        base = base_in;
        info.assign(info_size + 1, '#');
        const int r = srecord_read(file("in.srec", text).c_str(), image.data(), size, 0xFF, &base,
                                   &highest, &start, info.data(), info_size);
        EXPECT_EQ(std::count(image.begin() + size, image.end(), 0), 16) << "guard bytes";
        EXPECT_EQ(info[info_size], '#');
        image.resize(size);
        return r;
    }
    std::vector<uint8_t> image;
    int64_t base = 0, highest = -1, start = -1;
    std::vector<char> info;
};

TEST_F(SrecordRead, HeaderDataAndStartRecords) {
    EXPECT_EQ(srec("S00F000068656C6C6F202020202000003C\n"
                   "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026\n"
                   "S111003848656c6c6f20776f726c642e0a0042\r\nS5030003F9\nS9030000FC\n"),
              1);
    EXPECT_STREQ(info.data(), "hello      ") << "header text up to its NUL, then a blank";
    EXPECT_EQ(image[3], 0xA6);
    EXPECT_EQ(std::string(image.begin() + 0x38, image.begin() + 0x44), "Hello world.");
    EXPECT_EQ(image[0x46], 0xFF);
    EXPECT_EQ(base, 0);
    EXPECT_EQ(highest, 0x45);

    // S2 and S3 against base 0x10000; the last of S8 and S7 gives the start address.
    EXPECT_EQ(srec("S00600004844521B\nS2060100000102F5\nS30600010010AA3E\nS80401234592\n"
                   "S70500020000F8\nS00600004844521B\n",
                   0x20, 0x10000, 6),
              1);
    EXPECT_STREQ(info.data(), "HDR H");
    EXPECT_EQ(image[1], 0x02);
    EXPECT_EQ(image[0x10], 0xAA);
    EXPECT_EQ(base, 0x10000);
    EXPECT_EQ(highest, 0x10010);
    EXPECT_EQ(start, 0x20000);
}

TEST_F(SrecordRead, FaultsSetTheStatusAndReadingGoesOn) {
    const std::string good = "S105000055663F\n";
    EXPECT_EQ(srec("S10500107788EA\n" + good), kHexFormatError) << "checksum";
    EXPECT_EQ(image[0x10], 0x77);
    EXPECT_EQ(image[0], 0x55);
    // Base 0x100, 16 bytes: 0xFF lies below the buffer and 0x110 past it; neither is written.
    EXPECT_EQ(srec("S10500FF1122C8\nS105010F334473\n", 16, 0x100), kHexAddressOverflow);
    EXPECT_EQ(image[0], 0x22);
    EXPECT_EQ(image[15], 0x33);
    EXPECT_EQ(base, 0xFF);
    EXPECT_EQ(highest, 0x110);
    EXPECT_EQ(srec("S307FFFFFFFF0102F9\n" + good), kHexAddressOverflow);
    const std::string malformed[] = {
        std::string(255, 'S'), "S10F0000112233", "S1050000556G3F", "S102000000", "S3", "S0020000",
    };
    for (const std::string& line : malformed) {
        EXPECT_EQ(srec(line + "\n" + good), kHexFormatError) << line;
        EXPECT_EQ(image[1], 0x66) << line;
    }
    EXPECT_EQ(printed(), "");
}

TEST_F(SrecordRead, UnopenableFileGivesTheOutputsOfAnEmptyOne) {
    image.assign(8, 0);
    info.assign(8, '#');
    EXPECT_EQ(
        srecord_read(dir_.c_str(), image.data(), 8, 0xFF, &base, &highest, &start, info.data(), 8),
        12);
    EXPECT_EQ(image, std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(base, 0xFFFFFFFF);
    EXPECT_EQ(highest, 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(info[0], '\0');
}

}  // namespace
}  // namespace vireo::test
