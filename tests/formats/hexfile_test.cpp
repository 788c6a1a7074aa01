#include "formats/hexfile.h"

#include <random>

#include "format_files.h"

namespace vireo::test {
namespace {

class HexfileRead : public FormatFileTest {
protected:
    int read_hex(const std::string& text, int64_t size = 0x20000) {
        buffer.assign(size, 0);
        length = -1;
        return hexfile_read(file("in.hex", text).c_str(), buffer.data(), size, 0xFF, &length,
                            nullptr, 0);
    }
    std::vector<uint8_t> at(size_t address, size_t n) const {
        return {buffer.begin() + address, buffer.begin() + address + n};
    }
    size_t filled() const { return std::count(buffer.begin(), buffer.end(), 0xFF); }

    std::vector<uint8_t> buffer;
    int64_t length = -1;
};

TEST_F(HexfileRead, DataRecordStoresItsBytes) {
    for (const char* record : {":0300300002337A1E", ":0300300002337a1e"}) {
        EXPECT_EQ(read_hex(std::string(record) + "\n"), 1) << record;
        EXPECT_EQ(at(0x30, 3), (std::vector<uint8_t>{0x02, 0x33, 0x7A}));
        EXPECT_EQ(length, 0x33);
        EXPECT_EQ(filled(), buffer.size() - 3);
    }
    EXPECT_EQ(printed(), "");
}

TEST_F(HexfileRead, ExtendedAddressRecordsSetTheBase) {
    for (const char* base : {":020000040001F9", ":020000021000EC"}) {
        EXPECT_EQ(read_hex(std::string(base) + "\n:020000001122CB\n"), 1) << base;
        EXPECT_EQ(at(0x10000, 2), (std::vector<uint8_t>{0x11, 0x22}));
        EXPECT_EQ(length, 0x10002);
    }
}

TEST_F(HexfileRead, LayoutAroundTheRecordsIsTolerated) {
    // Blank and foreign lines, surrounding blanks, CR LF line ends, start address records and
    // everything after the end record are passed over.
    EXPECT_EQ(read_hex("\n# comment\r\n  :0300300002337A1E \r\n:04000005000000CD2A\n"
                       ":0400000300003800C1\n:00000001FF\n:0100000055AA\n"),
              1);
    EXPECT_EQ(at(0x30, 3), (std::vector<uint8_t>{0x02, 0x33, 0x7A}));
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_EQ(read_hex(""), 1);
    EXPECT_EQ(length, 1);
}

TEST_F(HexfileRead, ChecksumErrorStopsReadingAfterStoringTheRecord) {
    const std::string path_text = ":0300300002337A1F\n:0100000055AA\n";
    EXPECT_EQ(read_hex(path_text), kHexFormatError);
    EXPECT_EQ(printed(), "Input file '" + (dir_ / "in.hex").string() + "' has wrong check sum.");
    EXPECT_EQ(at(0x30, 3), (std::vector<uint8_t>{0x02, 0x33, 0x7A}));
    EXPECT_EQ(buffer[0], 0xFF) << "the record after the faulty one is not read";
    EXPECT_EQ(length, 0x33);
}

TEST_F(HexfileRead, ShortRecordIsAFormatError) {
    EXPECT_EQ(read_hex(":0100000055AA\n:00000001F\n:0100010066\n"), kHexFormatError);
    EXPECT_EQ(buffer[0], 0x55);
    EXPECT_EQ(buffer[1], 0xFF);
    EXPECT_EQ(printed(), "");
}

TEST_F(HexfileRead, ByteAtTheBufferSizeStopsReading) {
    EXPECT_EQ(read_hex(":02000E001122BD\n:0100000055AA\n", 0x0F), kHexAddressOverflow);
    EXPECT_EQ(buffer[0x0E], 0x11) << "the byte below the limit is stored";
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_EQ(length, 0x0F);
}

TEST_F(HexfileRead, UnopenableFileStillFillsTheBuffer) {
    buffer.assign(16, 0);
    EXPECT_EQ(hexfile_read((dir_ / "none.mcs").c_str(), buffer.data(), 16, 0xFF, &length, nullptr,
                           0),
              12);
    EXPECT_EQ(buffer, std::vector<uint8_t>(16, 0xFF));
    EXPECT_EQ(length, 1);
    EXPECT_EQ(printed(), "");
}

using HexfileWrite = FormatFileTest;

TEST_F(HexfileWrite, LinesOf16BytesAfterAnExtendedAddressRecord) {
    std::vector<uint8_t> data(32);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    const std::string path = (dir_ / "out.mcs").string();
    ASSERT_EQ(hexfile_write(path.c_str(), data.data(), 32), 1);
    EXPECT_EQ(read(path),
              ":020000040000FA\n"
              ":10000000000102030405060708090A0B0C0D0E0F78\n"
              ":10001000101112131415161718191A1B1C1D1E1F68\n");
}

TEST_F(HexfileWrite, EachNew64KiBStartsWithItsExtendedAddress) {
    const std::vector<uint8_t> data(0x20000, 0xFF);
    const std::string path = (dir_ / "out.mcs").string();
    ASSERT_EQ(hexfile_write(path.c_str(), data.data(), data.size()), 1);
    const std::string text = read(path);
    const std::string second = ":020000040001F9\n:10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\n";
    const size_t line = 44;  // one text line holding 16 data bytes
    EXPECT_EQ(text.find(":020000040001F9"), 16 + 4096 * line);
    EXPECT_EQ(text.substr(16 + 4096 * line, second.size()), second);
    EXPECT_EQ(text.size(), 2 * (16 + 4096 * line));
}

TEST_F(HexfileWrite, ReadsBackAsWritten) {
    // Crosses two 64 KiB boundaries and ends in a shorter record.
    std::mt19937 rng(7);
    std::vector<uint8_t> data(0x20000 + 40);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const std::string path = (dir_ / "trip.hex").string();
    ASSERT_EQ(hexfile_write(path.c_str(), data.data(), data.size()), 1);

    std::vector<uint8_t> back(data.size() + 64, 0);
    int64_t length = 0;
    EXPECT_EQ(hexfile_read(path.c_str(), back.data(), back.size(), 0xFF, &length, nullptr, 0), 1);
    EXPECT_EQ(length, static_cast<int64_t>(data.size()));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    EXPECT_EQ(back.back(), 0xFF);
}

TEST_F(HexfileWrite, UncreatableFileIs12) {
    const uint8_t data[16] = {};
    EXPECT_EQ(hexfile_write((dir_ / "no" / "such.hex").c_str(), data, 16), 12);
    EXPECT_EQ(hexfile_write("/dev/full", data, 16), 12) << "a failed write is not success";
}

}  // namespace
}  // namespace vireo::test
