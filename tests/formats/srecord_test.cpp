#include "formats/hexfile.h"

#include "format_files.h"

namespace vireo::test {
namespace {

class SrecordRead : public FormatFileTest {
protected:
    int read_srec(const std::string& text, int64_t size = 0x100, int64_t base_in = 0,
                  int info_size = 100) {
        buffer.assign(size, 0);
        base = base_in;
        highest = start = -1;
        info.assign(info_size + 1, '#');
        return srecord_read(file("in.srec", text).c_str(), buffer.data(), size, 0xFF, &base,
                            &highest, &start, info.data(), info_size);
    }
    std::vector<uint8_t> at(size_t address, size_t n) const {
        return {buffer.begin() + address, buffer.begin() + address + n};
    }

    std::vector<uint8_t> buffer;
    int64_t base = 0, highest = -1, start = -1;
    std::vector<char> info;
};

TEST_F(SrecordRead, HeaderDataAndStartRecords) {
    EXPECT_EQ(read_srec("S00F000068656C6C6F202020202000003C\n"
                        "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026\n"
                        "S111003848656c6c6f20776f726c642e0a0042\r\n"
                        "S5030003F9\nS9030000FC\n"),
              1);
    EXPECT_EQ(std::string(info.data()), "hello      ") << "header text up to its NUL, one blank";
    EXPECT_EQ(at(0, 4), (std::vector<uint8_t>{0x7C, 0x08, 0x02, 0xA6}));
    EXPECT_EQ(std::string(buffer.begin() + 0x38, buffer.begin() + 0x44), "Hello world.");
    EXPECT_EQ(buffer[0x46], 0xFF);
    EXPECT_EQ(base, 0);
    EXPECT_EQ(highest, 0x45);
    EXPECT_EQ(start, 0);
}

TEST_F(SrecordRead, LongerAddressesBaseAndLastStartAddress) {
    EXPECT_EQ(read_srec("S00600004844521B\nS2060100000102F5\nS30600010010AA3E\n"
                        "S80401234592\nS70500020000F8\n",
                        0x20, 0x10000),
              1);
    EXPECT_EQ(std::string(info.data()), "HDR ");
    EXPECT_EQ(at(0, 2), (std::vector<uint8_t>{0x01, 0x02}));
    EXPECT_EQ(buffer[0x10], 0xAA);
    EXPECT_EQ(base, 0x10000) << "lowest address seen";
    EXPECT_EQ(highest, 0x10010);
    EXPECT_EQ(start, 0x20000);
}

TEST_F(SrecordRead, ChecksumErrorIsSilentAndReadingGoesOn) {
    EXPECT_EQ(read_srec("S105000055663E\nS10500107788EB\n"), kHexFormatError);
    EXPECT_EQ(at(0, 2), (std::vector<uint8_t>{0x55, 0x66}));
    EXPECT_EQ(at(0x10, 2), (std::vector<uint8_t>{0x77, 0x88}));
    EXPECT_EQ(printed(), "");
}

TEST_F(SrecordRead, BytesOutsideTheBufferAreSkipped) {
    // Base 0x100, 16 bytes: 0x0FF lies below the buffer, 0x110 just past it.
    EXPECT_EQ(read_srec("S10500FF1122C8\nS105010F334473\n", 16, 0x100), kHexAddressOverflow);
    EXPECT_EQ(buffer[0], 0x22);
    EXPECT_EQ(buffer[15], 0x33);
    EXPECT_EQ(base, 0xFF);
    EXPECT_EQ(highest, 0x110);
}

TEST_F(SrecordRead, HeaderTextIsCutToTheInfoSize) {
    EXPECT_EQ(read_srec("S00600004844521B\nS00F000068656C6C6F202020202000003C\n", 16, 0, 6), 1);
    EXPECT_EQ(std::string(info.data()), "HDR h");
    EXPECT_EQ(info[6], '#');
}

TEST_F(SrecordRead, UnopenableFileGivesTheOutputsOfAnEmptyOne) {
    buffer.assign(8, 0);
    info.assign(8, '#');
    EXPECT_EQ(srecord_read(dir_.c_str(), buffer.data(), 8, 0xFF, &base, &highest, &start,
                           info.data(), 8),
              12);
    EXPECT_EQ(buffer, std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(base, 0xFFFFFFFF);
    EXPECT_EQ(highest, 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(info[0], '\0');
    EXPECT_EQ(printed(), "");
}

}  // namespace
}  // namespace vireo::test
