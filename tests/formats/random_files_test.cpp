// Random bytes and damaged copies of valid files, many times over: every reader answers with one
// of its statuses and stays inside the caller's buffers.
#include <random>

#include "format_files.h"
#include "formats/bitfile.h"
#include "formats/hexfile.h"

namespace vireo::test {
namespace {

using HexfileSrecordBitfileRandom = FormatFileTest;

TEST_F(HexfileSrecordBitfileRandom, EveryReaderSurvivesDamagedFiles) {
    static const char bit[] =
        "\0\x09\x0F\xF0\x0F\xF0\x0F\xF0\x0F\xF0\0\0\x01"
        "a\0\x02x\0b\0\x02p\0"
        "c\0\x01\0d\0\x01\0e\0\0\0\x04\x01\x02\x03\x04";
    const std::string valid[] = {
        ":020000040000FA\n:0300300002337A1E\n:00000001FF\n",
        "S00600004844521B\nS2060100000102F5\nS80401234592\n",
        std::string(bit, sizeof bit - 1),
    };
    std::mt19937 rng(20240611);
    for (int round = 0; round < 600; ++round) {
        std::string text;
        if (round % 4 == 0) {
            text.resize(rng() % 600);
            for (auto& c : text) c = static_cast<char>(rng());
        } else {
            text = valid[round % 4 - 1];
            for (unsigned m = rng() % 4 + 1; m > 0; --m)
                text[rng() % text.size()] = static_cast<char>(rng());
        }
        const std::string path = file("r.bin", text);
        const size_t size = rng() % 64;
        std::vector<uint8_t> a(size + 16, 0xC3), b(a), c(a);
        char info[17];
        info[16] = '#';
        int64_t n = 0, base = rng() % 2 ? 0 : 0x10000, highest, start;
        int length = 0;
        const int rh = hexfile_read(path.c_str(), a.data(), size, 0xFF, &n, nullptr, 0);
        const int rs =
            srecord_read(path.c_str(), b.data(), size, 0xFF, &base, &highest, &start, info, 16);
        const int rb = bitfile_read(path.c_str(), c.data(), size, 0, &length, info, 16);
        SCOPED_TRACE(round);
        EXPECT_TRUE(rh == 1 || rh == kHexFormatError || rh == kHexAddressOverflow) << rh;
        EXPECT_TRUE(rs == 1 || rs == kHexFormatError || rs == kHexAddressOverflow) << rs;
        EXPECT_TRUE(rb == 1 || rb == kBitfileFormatError) << rb;
        for (const auto* buf : {&a, &b, &c})
            EXPECT_EQ(std::count(buf->begin() + size, buf->end(), 0xC3), 16);
        EXPECT_EQ(info[16], '#');
        EXPECT_LE(length, static_cast<int>(size));
    }
}

}  // namespace
}  // namespace vireo::test
