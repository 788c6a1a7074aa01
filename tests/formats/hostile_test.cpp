// Damaged and hostile input: every reader must answer with a status, stay inside the caller's
// buffer and come back, whatever the file holds.
#include <cstring>
#include <random>

#include "format_files.h"
#include "formats/bitfile.h"
#include "formats/hexfile.h"

namespace vireo::test {
namespace {

constexpr uint8_t kGuard = 0xC3;

// A buffer with guard bytes behind the part handed to a reader.
struct Guarded {
    explicit Guarded(size_t n) : size(n), bytes(n + 32, kGuard) {}
    bool intact() const {
        return std::all_of(bytes.begin() + size, bytes.end(), [](uint8_t b) { return b == kGuard; });
    }
    size_t size;
    std::vector<uint8_t> bytes;
};

class HexfileHostile : public FormatFileTest {
protected:
    int hex(const std::string& text, size_t size = 64) {
        Guarded g(size);
        int64_t length = 0;
        const int r = hexfile_read(file("h.hex", text).c_str(), g.bytes.data(), size, 0xFF,
                                   &length, nullptr, 0);
        EXPECT_TRUE(g.intact());
        EXPECT_GE(length, 1);
        EXPECT_LE(length, static_cast<int64_t>(size) + 1);
        stored = std::vector<uint8_t>(g.bytes.begin(), g.bytes.begin() + size);
        return r;
    }
    int srec(const std::string& text, size_t size = 64, int64_t base = 0) {
        Guarded g(size);
        int64_t highest = 0, start = 0;
        char info[8];
        const int r = srecord_read(file("s.srec", text).c_str(), g.bytes.data(), size, 0xFF,
                                   &base, &highest, &start, info, sizeof info);
        EXPECT_TRUE(g.intact());
        EXPECT_LT(std::strlen(info), sizeof info);
        stored = std::vector<uint8_t>(g.bytes.begin(), g.bytes.begin() + size);
        return r;
    }
    std::vector<uint8_t> stored;
};

TEST_F(HexfileHostile, LineLongerThanTheLimitIsRefusedNotSplit) {
    // A 121-byte record is 253 characters: one trailing blank still fits, two do not.
    std::string record = ":79000000" + std::string(242, '0');
    record += "87";
    ASSERT_EQ(record.size(), 253u);
    EXPECT_EQ(hex(record + " \n", 128), 1);
    EXPECT_EQ(hex(record + "  \n", 128), kHexFormatError);
    // The tail past the limit looks like a record of its own; it must not be read as one.
    EXPECT_EQ(hex(std::string(254, ' ') + ":0100000055AA\n"), kHexFormatError);
    EXPECT_EQ(stored[0], 0xFF);
}

TEST_F(HexfileHostile, MalformedRecordsAreFormatErrors) {
    const char* const cases[] = {
        ":10000000001122AA\n",      // byte count beyond the line
        ":0100000G55AA\n",          // not a hex digit
        ":01000000 55AA\n",         // blank inside the record
        ":0100000055A\n",           // odd digit count, checksum half missing
        ":00000004FC\n",            // extended address without its value
        ":FF0000000000000000000\n",  // huge count, short line
    };
    for (const char* text : cases) {
        EXPECT_EQ(hex(text), kHexFormatError) << text;
        EXPECT_EQ(stored, std::vector<uint8_t>(64, 0xFF)) << text;
    }
}

TEST_F(HexfileHostile, AddressesNear4GiBOverflowWithoutWrapping) {
    EXPECT_EQ(hex(":02000004FFFFFC\n:02FFFF001122CD\n"), kHexAddressOverflow);
    EXPECT_EQ(hex(":02000002FFFFFE\n:01FFFF0055AC\n"), kHexAddressOverflow);
    EXPECT_EQ(stored, std::vector<uint8_t>(64, 0xFF));
}

TEST_F(HexfileHostile, EmptyAndBinaryFiles) {
    EXPECT_EQ(hex(""), 1);
    EXPECT_EQ(hex(bytes({0, 0, 0, ':', '0', 0, '\n', 0x80, 0xFF})), 1);
    EXPECT_EQ(hex(bytes({':', 0, '1', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'})),
              kHexFormatError) << "a NUL ends the text of the line";
}

TEST_F(HexfileHostile, SpecialFilesAreNotOpened) {
    std::vector<uint8_t> buf(16);
    int64_t n = 0;
    EXPECT_EQ(hexfile_read("/dev/zero", buf.data(), 16, 0xFF, &n, nullptr, 0), 12);
    EXPECT_EQ(hexfile_read(nullptr, buf.data(), 16, 0xFF, &n, nullptr, 0), 12);
}

using SrecordHostile = HexfileHostile;

TEST_F(SrecordHostile, MalformedLinesSetAFormatErrorAndReadingGoesOn) {
    const std::string good = "S105000055663F\n";
    const char* const cases[] = {
        "S10F0000112233\n",          // byte count beyond the line
        "S1050000556G3F\n",          // not a hex digit
        "S102000000\n",              // count too small for the address
        "S3\n",                      // no count at all
        "S0020000\n",                // header without room for its checksum
    };
    for (const char* text : cases) {
        EXPECT_EQ(srec(text + good), kHexFormatError) << text;
        EXPECT_EQ(stored[0], 0x55) << text;
    }
    EXPECT_EQ(srec(std::string(300, 'S') + "\n" + good), kHexFormatError);
    EXPECT_EQ(stored[1], 0x66);
}

TEST_F(SrecordHostile, AddressesOutsideTheBufferNeverWrite) {
    EXPECT_EQ(srec("S307FFFFFFFF0102F9\n"), kHexAddressOverflow);
    EXPECT_EQ(srec("S105000055663F\n", 64, 0x10), kHexAddressOverflow) << "below the base";
    EXPECT_EQ(stored, std::vector<uint8_t>(64, 0xFF));
}

using BitfileHostile = FormatFileTest;

TEST_F(BitfileHostile, EmptyFileReportsEveryFieldAndDeliversNothing) {
    std::vector<uint8_t> buf(4, 0);
    int length = -1;
    char info[100];
    EXPECT_EQ(bitfile_read(file("empty.bit", "").c_str(), buf.data(), 4, 0, &length, info, 100),
              kBitfileFormatError);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(std::string(info), "Design name: Part:  ");
    EXPECT_NE(printed().find("(key 'a' missing)"), std::string::npos);
    EXPECT_NE(printed().find("(image len)"), std::string::npos);
}

TEST_F(BitfileHostile, FieldLongerThanTheBufferIsNotRead) {
    // Design name of 0xFFFF bytes against a 16-byte buffer, and no NUL anywhere.
    const std::string text = bytes({0, 9}) + std::string(9, 'x') + bytes({0, 1, 'a', 0xFF, 0xFF}) +
                             std::string(0xFFFF, 'n');
    Guarded g(16);
    char info[100];
    EXPECT_EQ(bitfile_read(file("long.bit", text).c_str(), g.bytes.data(), 16, 0, nullptr, info,
                           100),
              kBitfileFormatError);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(printed().rfind("Input file error (design name)", 0), 0u) << printed();
}

// Random bytes and damaged copies of valid files, many times over, under the sanitizers.
TEST_F(BitfileHostile, RandomAndMutatedFilesOfEveryFormat) {
    const std::string hex_text = ":020000040000FA\n:0300300002337A1E\n:00000001FF\n";
    const std::string srec_text = "S00600004844521B\nS2060100000102F5\nS80401234592\n";
    const std::string bit_text = bytes({0, 9}) + std::string(9, '\x0F') +
                                 bytes({0, 1, 'a', 0, 2, 'x', 0, 'b', 0, 2, 'p', 0, 'c', 0, 1, 0,
                                        'd', 0, 1, 0, 'e', 0, 0, 0, 4, 1, 2, 3, 4});
    std::mt19937 rng(20240611);
    for (int round = 0; round < 600; ++round) {
        std::string text;
        switch (round % 4) {
        case 0:
            text.resize(rng() % 600);
            for (auto& c : text) c = static_cast<char>(rng());
            break;
        case 1: text = hex_text; break;
        case 2: text = srec_text; break;
        case 3: text = bit_text; break;
        }
        if (round % 4 != 0 && !text.empty())
            for (unsigned m = rng() % 4 + 1; m > 0; --m)
                text[rng() % text.size()] = static_cast<char>(rng());
        const std::string path = file("r.bin", text);
        const size_t size = rng() % 64;
        SCOPED_TRACE(round);

        Guarded a(size), b(size), c(size);
        int64_t n = 0, base = rng() % 2 ? 0 : 0x10000, highest = 0, start = 0;
        int length = 0;
        char info[16];
        const int rh = hexfile_read(path.c_str(), a.bytes.data(), size, 0xFF, &n, nullptr, 0);
        const int rs = srecord_read(path.c_str(), b.bytes.data(), size, 0xFF, &base, &highest,
                                    &start, info, sizeof info);
        const int rb = bitfile_read(path.c_str(), c.bytes.data(), static_cast<int>(size), 0,
                                    &length, info, sizeof info);
        EXPECT_TRUE(rh == 1 || rh == kHexFormatError || rh == kHexAddressOverflow) << rh;
        EXPECT_TRUE(rs == 1 || rs == kHexFormatError || rs == kHexAddressOverflow) << rs;
        EXPECT_TRUE(rb == 1 || rb == kBitfileFormatError) << rb;
        EXPECT_TRUE(a.intact() && b.intact() && c.intact());
        EXPECT_LE(length, static_cast<int>(size));
    }
}

}  // namespace
}  // namespace vireo::test
