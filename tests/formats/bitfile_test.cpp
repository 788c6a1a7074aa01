#include "formats/bitfile.h"

#include <zlib.h>

#include "format_files.h"
#include "sim/bitgen.h"

namespace vireo::test {
namespace {

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

// Header fields are read only when they fit the caller's buffer: the buffers here are larger.
class BitfileRead : public FormatFileTest {
  protected:
    int read_bit(const std::string& path, int size, int info_size = 100) {
        buffer.assign(size, 0);
        length = -1;
        info.assign(info_size + 1, '#');  // the byte past info_size must stay
        return bitfile_read(path.c_str(), buffer.data(), size, 0x5A, &length, info.data(),
                            info_size);
    }
    std::vector<uint8_t> buffer;
    int length = -1;
    std::vector<char> info;
};

TEST_F(BitfileRead, DeliversTheImageBitReversedWithinTheBuffer) {
    EXPECT_EQ(read_bit(file("a.bit", bit_file()), 32), 1);
    std::vector<uint8_t> image(32, 0x5A);
    for (int i : {0, 1, 2, 3}) image[i] = 0xFF;
    image[4] = 0x55, image[5] = 0x99, image[6] = 0xAA, image[7] = 0x66;
    EXPECT_EQ(buffer, image);
    EXPECT_EQ(length, 8);
    EXPECT_STREQ(info.data(),
                 "Design name:top;UserID=0XFFFFFFFF Part:7a35tcpg236 2024/01/02 03:04:05");
    EXPECT_EQ(read_bit(file("a.bit", bit_file()), 32, 10), 1);
    EXPECT_STREQ(info.data(), "Design na");
    EXPECT_EQ(info[10], '#');

    const std::string exact = file("b.bit", bit_file("abcde", std::string(32, '\x01')));
    EXPECT_EQ(read_bit(exact, 32), 1);
    EXPECT_EQ(buffer, std::vector<uint8_t>(32, 0x80));
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(read_bit(exact, 31), kBitfileFormatError);
    EXPECT_EQ(printed(), "Input file '" + exact + "' exceeds device size.");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(31, 0x5A)) << "nothing half-read is left behind";
}

TEST_F(BitfileRead, ReportsEveryFaultInFileOrder) {
    const std::string a = file("a.bit", bit_file("xbcde"));
    EXPECT_EQ(read_bit(a, 32), kBitfileFormatError);
    EXPECT_EQ(printed(), "File format error: '" + a + "'. (key 'a' missing)");
    EXPECT_EQ(length, 8) << "the image itself was sound";

    printed().clear();
    const std::string p = file("b.bit", bit_file("abzdq", std::string(30, '\x0F'), 64));
    EXPECT_EQ(read_bit(p, 64), kBitfileFormatError);
    EXPECT_EQ(printed(), "File format error: '" + p + "'. (key 'c' missing)" +
                             "File format error: '" + p + "'. (key 'e' missing)" + "Input file '" +
                             p + "' exceeds device size.");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0x5A));

    // A file ending after the part name: each later read fails and says so.
    printed().clear();
    const std::string whole = bit_file();
    const std::string c = file("c.bit", whole.substr(0, whole.find("2024") - 3));
    EXPECT_EQ(read_bit(c, 32), kBitfileFormatError);
    const std::string missing = "File format error: '" + c + "'. (key '";
    EXPECT_EQ(printed(), "Input file format error (key 'c' len)" + missing + "c' missing)" +
                             "Input file format error (len)Input file format error (key 'd' len)" +
                             missing + "d' missing)Input file format error (len)" +
                             "Input file format error. (key 'e' len)" + missing + "e' missing)" +
                             "Input file format error (image len)");
    EXPECT_STREQ(info.data(), "Design name:top;UserID=0XFFFFFFFF Part:7a35tcpg236  ");
}

TEST_F(BitfileRead, UnopenablePathIs12AndSilent) {
    EXPECT_EQ(read_bit((dir_ / "none.bit").string(), 8), 12);
    EXPECT_EQ(read_bit(dir_.string(), 8), 12);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(printed(), "");
}

TEST_F(BitfileRead, SyntheticBitstreamReadsBackWhole) {
    const sim::XilinxPart* part = sim::find_xilinx_part("XC6SLX16");
    ASSERT_NE(part, nullptr);
    const auto image = sim::make_config_image(*part, {});
    const auto bit = sim::make_bit_file(*part, {}, "2024/05/06", "07:08:09");
    ASSERT_EQ(read_bit(file("s.bit", std::string(bit.begin(), bit.end())), image.size()), 1);
    EXPECT_EQ(length, static_cast<int>(image.size()));
    for (size_t i = 0; i < image.size(); ++i) ASSERT_EQ(buffer[i], mirrored(image[i])) << i;
}

// Vivado and ISE output: the SPI bridge bitstreams of Debian's openfpgaloader package.
TEST_F(BitfileRead, RealSpartan6And7SeriesBitstreams) {
    const std::filesystem::path dir = "/usr/share/openFPGALoader";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << dir << " is missing";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
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
        // The image is the file's tail, after 'e' and its length.
        const size_t at = raw.size() - length;
        ASSERT_EQ(raw[at - 5], 'e');
        ASSERT_EQ(raw.substr(at - 4, 4), be(length, 4));
        for (int i = 0; i < length; ++i) ASSERT_EQ(mirrored(buffer[i]), uint8_t(raw[at + i])) << i;
        ++files;
    }
    EXPECT_GT(files, 10);
}

}  // namespace
}  // namespace vireo::test
