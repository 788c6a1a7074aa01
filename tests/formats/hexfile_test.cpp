#include "formats/hexfile.h"

#include <random>

#include "format_files.h"

namespace vireo::test {
namespace {

class HexfileRead : public FormatFileTest {
  protected:
    // Reads text into a 0x20000-byte image (fill 0xFF) with guard bytes behind it.
    int hex(const std::string& text, int64_t size = 0x20000) {
        image.assign(size + 16, 0);
        length = -1;
        const int r = hexfile_read(file("in.hex", text).c_str(), image.data(), size, 0xFF, &length,
                                   nullptr, 0);
        EXPECT_EQ(std::count(image.begin() + size, image.end(), 0), 16) << "guard bytes";
        image.resize(size);
        return r;
    }
    std::vector<uint8_t> at(size_t address, size_t n) const {
        return {image.begin() + address, image.begin() + address + n};
    }
    std::vector<uint8_t> image;
    int64_t length = -1;
};

TEST_F(HexfileRead, DataRecordsLandAtBasePlusOffset) {
    const std::vector<uint8_t> bytes{0x02, 0x33, 0x7A};
    // Blank and foreign lines, surrounding blanks, CR LF, lower case, start address records and
    // anything after the end record are passed over.
    EXPECT_EQ(
        hex("\n# x\r\n  :0300300002337a1e \r\n:04000005000000CD2A\n:00000001FF\n:0100000055AA\n"),
        1);
    EXPECT_EQ(at(0x30, 3), bytes);
    EXPECT_EQ(length, 0x33);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0xFF), 0x20000 - 3);
    for (const char* base : {":020000040001F9\n", ":020000021000EC\n"}) {
        EXPECT_EQ(hex(std::string(base) + ":0300000002337A4E\n"), 1) << base;
        EXPECT_EQ(at(0x10000, 3), bytes);
        EXPECT_EQ(length, 0x10003);
    }
    EXPECT_EQ(hex(""), 1);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(printed(), "");
}

TEST_F(HexfileRead, ChecksumErrorStopsAfterStoringTheRecord) {
    EXPECT_EQ(hex(":0300300002337A1F\n:0100000055AA\n"), kHexFormatError);
    EXPECT_EQ(printed(), "Input file '" + (dir_ / "in.hex").string() + "' has wrong check sum.");
    EXPECT_EQ(at(0x30, 3), (std::vector<uint8_t>{0x02, 0x33, 0x7A}));
    EXPECT_EQ(image[0], 0xFF) << "nothing after the faulty record is read";
}

TEST_F(HexfileRead, ByteAtTheBufferSizeStopsReading) {
    EXPECT_EQ(hex(":02000E001122BD\n:0100000055AA\n", 0x0F), kHexAddressOverflow);
    EXPECT_EQ(image[0x0E], 0x11);
    EXPECT_EQ(image[0], 0xFF);
    EXPECT_EQ(length, 0x0F);
    EXPECT_EQ(hex(":02000004FFFFFC\n:02FFFF001122CD\n", 64), kHexAddressOverflow) << "near 4 GiB";
}

TEST_F(HexfileRead, MalformedLinesAreRefusedWithoutStoringAnything) {
    const std::string record = ":79000000" + std::string(242, '0') + "87";  // 253 characters
    EXPECT_EQ(hex(record + " \n", 128), 1) << "254 characters fit";
    const std::string cases[] = {
        record + "  \n",                            // 255 characters
        std::string(254, ' ') + ":0100000055AA\n",  // the part past the limit is no record
        ":0000001\n",
        ":10000000001122AA\n",  // short line, count beyond the line
        ":0100000G55AA\n",
        ":01000000 55AA\n",  // not hex digits
        ":0100000055A\n",
        ":00000004FC\n",  // half a checksum, base without value
        std::string(":\0"
                    "1000000000",
                    12),  // a NUL ends the line's text
    };
    for (const std::string& text : cases) {
        EXPECT_EQ(hex(text, 128), kHexFormatError) << text;
        EXPECT_EQ(image, std::vector<uint8_t>(128, 0xFF));
    }
    EXPECT_EQ(printed(), "");
}

TEST_F(HexfileRead, UnopenableFileStillFillsTheImage) {
    image.assign(8, 0);
    for (const char* path : {"/nonexistent.mcs", "/dev/zero", "/"}) {
        EXPECT_EQ(hexfile_read(path, image.data(), 8, 0xFF, &length, nullptr, 0), 12) << path;
        EXPECT_EQ(image, std::vector<uint8_t>(8, 0xFF));
        EXPECT_EQ(length, 1);
    }
}

using HexfileWrite = FormatFileTest;

TEST_F(HexfileWrite, LayoutAndRoundTrip) {
    std::vector<uint8_t> data(0x20000 + 40);  // two 64 KiB blocks and a short last record
    std::mt19937 rng(7);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i < 32 ? i : rng());
    const std::string path = (dir_ / "out.mcs").string();
    ASSERT_EQ(hexfile_write(path.c_str(), data.data(), 32), 1);
    EXPECT_EQ(read(path),
              ":020000040000FA\n:10000000000102030405060708090A0B0C0D0E0F78\n"
              ":10001000101112131415161718191A1B1C1D1E1F68\n");

    ASSERT_EQ(hexfile_write(path.c_str(), data.data(), data.size()), 1);
    const std::string text = read(path);
    const size_t block = 16 + 4096 * 44;  // address record and 4096 data lines
    EXPECT_EQ(text.substr(block, 25), ":020000040001F9\n:10000000");
    EXPECT_EQ(text.substr(2 * block, 25), ":020000040002F8\n:10000000");
    EXPECT_EQ(text.size(), 2 * block + 16 + 2 * 44 + 28) << "ends in an 8-byte record";

    std::vector<uint8_t> back(data.size() + 8);
    int64_t length = 0;
    EXPECT_EQ(hexfile_read(path.c_str(), back.data(), back.size(), 0xFF, &length, nullptr, 0), 1);
    EXPECT_EQ(length, static_cast<int64_t>(data.size()));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));

    EXPECT_EQ(hexfile_write((dir_ / "no/such.hex").c_str(), data.data(), 16), 12);
    EXPECT_EQ(hexfile_write("/dev/full", data.data(), 16), 12) << "a failed write is no success";
}

}  // namespace
}  // namespace vireo::test
