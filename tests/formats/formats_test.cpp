// The file format readers (.bit, Intel HEX, S-record) and the HEX writer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "formats/bitfile.h"
#include "formats/hexfile.h"
#include "jtag/msg.h"
#include "support/printed.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using ::testing::AnyOf;
using Bytes = std::vector<uint8_t>;

// A private temporary directory, and the messages printed.
class FormatFile : public ::testing::Test {
  protected:
    void SetUp() override {
        set_print_callback(collect_print);
        printed().clear();
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file(const std::string& name, const std::string& content) const {
        std::ofstream(dir_ / name, std::ios::binary) << content;
        return (dir_ / name).string();
    }
    const fs::path dir_ = fs::temp_directory_path() /
                          ("vireo_formats_" + std::to_string(::getpid()) + "_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

std::string be(size_t n, int bytes) {
    std::string s;
    while (bytes--) s += static_cast<char>(n >> (8 * bytes) & 0xFF);
    return s;
}

// A .bit file laid out as the vendor tools write it; keys and image length can be spoiled.
std::string bit_file(const std::string& keys = "abcde",
                     const std::string& image = "\xFF\xFF\xFF\xFF\xAA\x99\x55\x66", size_t n = 0) {
    std::string s = be(9, 2) + "\x0F\xF0\x0F\xF0\x0F\xF0\x0F\xF0" + '\0' + be(1, 2);
    const std::string fields[] = {"top;UserID=0XFFFFFFFF", "7a35tcpg236", "2024/01/02", "03:04:05"};
    for (int i = 0; i < 4; ++i) s += keys[i] + be(fields[i].size() + 1, 2) + fields[i] + '\0';
    return s + keys[4] + be(n ? n : image.size(), 4) + image;
}

class BitfileRead : public FormatFile {
  protected:
    int read_bit(const std::string& path, int size) {
        buffer.assign(size, 0);
        info.assign(100, '#');
        return bitfile_read(path.c_str(), buffer.data(), size, 0x5A, &length, info.data(), 100);
    }
    Bytes buffer;
    int length = -1;
    std::vector<char> info;
};

TEST_F(BitfileRead, DeliversTheImageBitReversedWithinTheBuffer) {
    EXPECT_EQ(read_bit(file("a.bit", bit_file()), 32), 1);
    Bytes image(32, 0x5A);
    for (int i = 0; i < 8; ++i) image[i] = "\xFF\xFF\xFF\xFF\x55\x99\xAA\x66"[i];
    EXPECT_EQ(buffer, image);
    EXPECT_EQ(length, 8);
    EXPECT_STREQ(info.data(),
                 "Design name:top;UserID=0XFFFFFFFF Part:7a35tcpg236 2024/01/02 03:04:05");

    const std::string exact = file("b.bit", bit_file("abcde", std::string(32, '\x01')));
    EXPECT_EQ(read_bit(exact, 32), 1);
    EXPECT_EQ(buffer, Bytes(32, 0x80));
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(read_bit(exact, 31), kBitfileFormatError);
    EXPECT_EQ(printed(), "Input file '" + exact + "' exceeds device size.");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer, Bytes(31, 0x5A)) << "nothing half-read is left behind";
}

TEST_F(BitfileRead, ReportsEveryFaultInFileOrder) {
    // Wrong keys, and an image shorter than its length: nothing half-read is left behind.
    const std::string p = file("b.bit", bit_file("xbzdq", std::string(30, '\x0F'), 64));
    EXPECT_EQ(read_bit(p, 64), kBitfileFormatError);
    const std::string bad = "File format error: '" + p + "'. (key '";
    EXPECT_EQ(printed(), bad + "a' missing)" + bad + "c' missing)" + bad + "e' missing)" +
                             "Input file '" + p + "' exceeds device size.");
    EXPECT_EQ(buffer, Bytes(64, 0x5A));

    // A file ending after the part name: each later read fails and says so.
    printed().clear();
    const std::string whole = bit_file();
    const std::string c = file("c.bit", whole.substr(0, whole.find("2024") - 3));
    EXPECT_EQ(read_bit(c, 32), kBitfileFormatError);
    const std::string miss = "File format error: '" + c + "'. (key '";
    EXPECT_EQ(printed(), "Input file format error (key 'c' len)" + miss + "c' missing)" +
                             "Input file format error (len)Input file format error (key 'd' len)" +
                             miss + "d' missing)Input file format error (len)" +
                             "Input file format error. (key 'e' len)" + miss + "e' missing)" +
                             "Input file format error (image len)");
    EXPECT_STREQ(info.data(), "Design name:top;UserID=0XFFFFFFFF Part:7a35tcpg236  ");

    printed().clear();  // a path that cannot be opened is 12, and silent
    EXPECT_EQ(read_bit((dir_ / "none.bit").string(), 8), 12);
    EXPECT_EQ(read_bit(dir_.string(), 8), 12);
    EXPECT_EQ(printed(), "");
}

// Vivado and ISE output: the SPI bridge bitstreams of Debian's openfpgaloader package.
TEST_F(BitfileRead, RealSpartan6And7SeriesBitstreams) {
    const fs::path dir = "/usr/share/openFPGALoader";
    if (!fs::is_directory(dir)) GTEST_SKIP() << dir << " is missing";
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if ((name.rfind("spiOverJtag_xc6s", 0) && name.rfind("spiOverJtag_xc7", 0)) ||
            !name.ends_with(".bit.gz"))
            continue;
        SCOPED_TRACE(name);
        std::string raw;
        gzFile gz = gzopen(entry.path().c_str(), "rb");
        char chunk[1 << 16];
        for (int n; gz && (n = gzread(gz, chunk, sizeof chunk)) > 0;) raw.append(chunk, n);
        if (gz) gzclose(gz);
        ASSERT_EQ(read_bit(file("r.bit", raw), raw.size()), 1) << printed();
        EXPECT_EQ(std::string(info.data()).rfind("Design name:", 0), 0u);
        // The image is the file's tail after 'e' and its length, every byte mirrored.
        const size_t at = raw.size() - length;
        ASSERT_EQ(raw.substr(at - 5, 5), 'e' + be(length, 4));
        for (int i = 0; i < length * 8; i += 7)  // bit k of each byte is bit 7 - k of the file's
            ASSERT_EQ(buffer[i / 8] >> (i % 8) & 1, uint8_t(raw[at + i / 8]) >> (7 - i % 8) & 1);
        ++files;
    }
    EXPECT_GT(files, 10);
}

// Intel HEX and S-record reading into `size` bytes (fill 0xFF) with guard bytes behind them.
class Hexfile : public FormatFile {
  protected:
    int read(const std::string& text, int64_t size, bool srec, int64_t base_in, int info_size) {
        image.assign(size + 16, 0);
        info.assign(info_size + 1, '#');
        base = base_in;
        const std::string path = file("in", text);
        const int r =
            srec ? srecord_read(path.c_str(), image.data(), size, 0xFF, &base, &highest, &start,
                                info.data(), info_size)
                 : hexfile_read(path.c_str(), image.data(), size, 0xFF, &length, nullptr, 0);
        EXPECT_EQ(std::count(image.begin() + size, image.end(), 0), 16) << "guard bytes";
        EXPECT_EQ(info[info_size], '#');
        image.resize(size);
        return r;
    }
    int hex(const std::string& text, int64_t size = 0x20000) { return read(text, size, 0, 0, 8); }
    int srec(const std::string& text, int64_t size = 0x100, int64_t b = 0, int info_size = 100) {
        return read(text, size, true, b, info_size);
    }
    Bytes at(size_t address, size_t n) const { return {&image[address], &image[address] + n}; }
    Bytes image;
    std::vector<char> info;
    int64_t length = -1, base = 0, highest = -1, start = -1;
};

TEST_F(Hexfile, DataRecordsLandAtBasePlusOffset) {
    const Bytes bytes{0x02, 0x33, 0x7A};
    // Blank and foreign lines, surrounding blanks, CR LF, lower case, start address records and
    // anything after the end record are passed over.
    EXPECT_EQ(hex("\n# x\r\n  :0300300002337a1e \r\n:04000005000000CD2A\n:00000001FF\n"
                  ":0100000055AA\n"),
              1);
    EXPECT_EQ(at(0x30, 3), bytes);
    EXPECT_EQ(length, 0x33);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0xFF), 0x20000 - 3);
    for (const char* base : {":020000040001F9\n", ":020000021000EC\n"}) {
        EXPECT_EQ(hex(std::string(base) + ":0300000002337A4E\n"), 1) << base;
        EXPECT_EQ(at(0x10000, 3), bytes);
        EXPECT_EQ(length, 0x10003);
    }
    EXPECT_EQ(printed(), "");
}

TEST_F(Hexfile, ChecksumAndAddressFaultsStopTheReading) {
    EXPECT_EQ(hex(":0300300002337A1F\n:0100000055AA\n"), kHexFormatError);
    EXPECT_EQ(printed(), "Input file '" + (dir_ / "in").string() + "' has wrong check sum.");
    EXPECT_EQ(at(0x30, 3), (Bytes{0x02, 0x33, 0x7A})) << "the faulty record itself is stored";
    EXPECT_EQ(image[0], 0xFF);
    EXPECT_EQ(hex(":02000E001122BD\n:0100000055AA\n", 0x0F), kHexAddressOverflow);
    EXPECT_EQ(at(0x0D, 2), (Bytes{0xFF, 0x11}));
    EXPECT_EQ(image[0], 0xFF);
    EXPECT_EQ(length, 0x0F);
    EXPECT_EQ(hex(":02000004FFFFFC\n:02FFFF001122CD\n", 64), kHexAddressOverflow) << "near 4 GiB";
}

TEST_F(Hexfile, MalformedLinesAreRefusedWithoutStoringAnything) {
    const std::string record = ":79000000" + std::string(242, '0') + "87";  // 253 characters
    EXPECT_EQ(hex(record + " \n", 128), 1) << "254 characters fit";
    // clang-format off
    const std::string cases[] = {
        record + "  \n", std::string(254, ' ') + ":0100000055AA\n",  // 255 characters
        ":0000001\n", ":10000000001122AA\n", ":0100000G55AA\n", ":01000000 55AA\n",
        ":0100000055A\n", ":00000004FC\n", std::string(":\0" "1000000000", 12)};
    // clang-format on
    for (const std::string& text : cases) {
        EXPECT_EQ(hex(text, 128), kHexFormatError) << text;
        EXPECT_EQ(image, Bytes(128, 0xFF));
    }
    EXPECT_EQ(printed(), "");
    // Unopenable paths give the outputs of an empty file.
    for (const char* path : {"/nonexistent.mcs", "/dev/zero", "/"}) {
        image.assign(8, 0);
        EXPECT_EQ(hexfile_read(path, image.data(), 8, 0xFF, &length, nullptr, 0), 12) << path;
        EXPECT_EQ(
            srecord_read(path, image.data(), 8, 0xFF, &base, &highest, &start, info.data(), 8), 12)
            << path;
        EXPECT_EQ(image, Bytes(8, 0xFF));
        EXPECT_EQ(std::tuple(length, base, highest, start, info[0]),
                  std::tuple(1, 0xFFFFFFFF, 0, 0, '\0'));
    }
}

TEST_F(Hexfile, WriteLayoutAndRoundTrip) {
    Bytes data(0x20000 + 40);  // two 64 KiB blocks and a short last record
    std::mt19937 rng(7);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i < 32 ? i : rng());
    const std::string path = (dir_ / "out.mcs").string();
    auto text = [&] { return (std::stringstream() << std::ifstream(path).rdbuf()).str(); };
    ASSERT_EQ(hexfile_write(path.c_str(), data.data(), 32), 1);
    EXPECT_EQ(text(),
              ":020000040000FA\n:10000000000102030405060708090A0B0C0D0E0F78\n"
              ":10001000101112131415161718191A1B1C1D1E1F68\n:00000001FF\n");
    ASSERT_EQ(hexfile_write(path.c_str(), data.data(), data.size()), 1);
    const std::string all = text();
    const size_t block = 16 + 4096 * 44;  // address record and 4096 data lines
    EXPECT_EQ(all.substr(block, 25), ":020000040001F9\n:10000000");
    EXPECT_EQ(all.substr(2 * block, 25), ":020000040002F8\n:10000000");
    EXPECT_EQ(all.size(), 2 * block + 16 + 2 * 44 + 28 + 12)
        << "an 8-byte record, then the end record";
    EXPECT_EQ(hex(all, data.size() + 8), 1);
    EXPECT_EQ(length, static_cast<int64_t>(data.size()));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin()));
    EXPECT_EQ(hexfile_write((dir_ / "no/such.hex").c_str(), data.data(), 16), 12);
    EXPECT_EQ(hexfile_write("/dev/full", data.data(), 16), 12) << "a failed write is no success";
}

TEST_F(Hexfile, SrecordHeaderDataAndStartRecords) {
    EXPECT_EQ(srec("S00F000068656C6C6F202020202000003C\n"
                   "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026\n"
                   "S111003848656c6c6f20776f726c642e0a0042\r\nS5030003F9\nS9030000FC\n"),
              1);
    EXPECT_STREQ(info.data(), "hello      ") << "header text up to its NUL, then a blank";
    EXPECT_EQ(image[3], 0xA6);
    EXPECT_EQ(std::string(&image[0x38], &image[0x47]), "Hello world.\n\0\xFF"s);
    EXPECT_EQ(std::tuple(base, highest), std::tuple(0, 0x45));
    // S2 and S3 against base 0x10000; the last of S8 and S7 gives the start address.
    EXPECT_EQ(srec("S00600004844521B\nS2060100000102F5\nS30600010010AA3E\nS80401234592\n"
                   "S70500020000F8\nS00600004844521B\n",
                   0x20, 0x10000, 6),
              1);
    EXPECT_STREQ(info.data(), "HDR H");
    EXPECT_EQ(std::tuple(image[1], image[0x10]), std::tuple(0x02, 0xAA));
    EXPECT_EQ(std::tuple(base, highest, start), std::tuple(0x10000, 0x10010, 0x20000));
}

TEST_F(Hexfile, SrecordFaultsSetTheStatusAndReadingGoesOn) {
    const std::string good = "S105000055663F\n";
    EXPECT_EQ(srec("S10500107788EA\n" + good), kHexFormatError) << "checksum";
    EXPECT_EQ(std::tuple(image[0x10], image[0]), std::tuple(0x77, 0x55));
    // Base 0x100, 16 bytes: 0xFF lies below the buffer and 0x110 past it; neither is written.
    EXPECT_EQ(srec("S10500FF1122C8\nS105010F334473\n", 16, 0x100), kHexAddressOverflow);
    EXPECT_EQ(std::tuple(image[0], image[15], base, highest), std::tuple(0x22, 0x33, 0xFF, 0x110));
    EXPECT_EQ(srec("S307FFFFFFFF0102F9\n" + good), kHexAddressOverflow);
    for (const std::string& line : {std::string(255, 'S'), "S10F0000112233"s, "S1050000556G3F"s,
                                    "S102000000"s, "S3"s, "S0020000"s}) {
        EXPECT_EQ(srec(line + "\n" + good), kHexFormatError) << line;
        EXPECT_EQ(image[1], 0x66) << line;
    }
    EXPECT_EQ(printed(), "");
}

// Random bytes and damaged copies of valid files: every reader answers with one of its
// statuses and stays inside the caller's buffers.
TEST_F(FormatFile, HexfileSrecordBitfileSurviveDamagedFiles) {
    const std::string valid[] = {":020000040000FA\n:0300300002337A1E\n:00000001FF\n",
                                 "S00600004844521B\nS2060100000102F5\nS80401234592\n",
                                 bit_file("abcde", "\x01\x02\x03\x04")};
    std::mt19937 rng(20240611);
    for (int round = 0; round < 600; ++round) {
        std::string text = valid[round % 3];
        if (round % 4 == 0) text.resize(rng() % 600);  // every byte random
        for (size_t m = round % 4 ? rng() % 4 + 1 : text.size(); m-- > 0;)
            text[round % 4 ? rng() % text.size() : m] = static_cast<char>(rng());
        const std::string path = file("r.bin", text);
        const size_t size = rng() % 64;
        Bytes buffer(size + 16, 0xC3);
        char info[18] = "#################";
        int64_t n, base = rng() % 2 ? 0 : 0x10000, highest, start;
        int length = 0;
        SCOPED_TRACE(round);
        EXPECT_THAT(hexfile_read(path.c_str(), buffer.data(), size, 0xFF, &n, nullptr, 0),
                    AnyOf(1, kHexFormatError, kHexAddressOverflow));
        EXPECT_THAT(srecord_read(path.c_str(), buffer.data(), size, 0xFF, &base, &highest, &start,
                                 info, 16),
                    AnyOf(1, kHexFormatError, kHexAddressOverflow));
        EXPECT_THAT(bitfile_read(path.c_str(), buffer.data(), size, 0, &length, info, 16),
                    AnyOf(1, kBitfileFormatError));
        EXPECT_EQ(std::count(buffer.begin() + size, buffer.end(), 0xC3), 16) << "guard bytes";
        EXPECT_EQ(info[16], '#');
        EXPECT_LE(length, static_cast<int>(size));
    }
}

}  // namespace
}  // namespace vireo::test
