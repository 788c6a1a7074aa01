#include "formats/bitfile.h"

#include <optional>

#include "format_files.h"
#include "sim/bitgen.h"
#include "sim/xilinx_parts.h"

namespace vireo::test {
namespace {

std::string be16(size_t n) { return bytes({int(n >> 8 & 0xFF), int(n & 0xFF)}); }
std::string be32(size_t n) { return be16(n >> 16) + be16(n & 0xFFFF); }

// A .bit file as the vendor tools lay it out, with each key and the image length replaceable.
struct BitFields {
    std::string keys = "abcde";
    std::string design = "top;UserID=0XFFFFFFFF";
    std::string part = "7a35tcpg236";
    std::string date = "2024/01/02";
    std::string time = "03:04:05";
    std::string image = bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66});
    std::optional<size_t> image_length;

    std::string text(char key, const std::string& value) const {
        return std::string(1, key) + be16(value.size() + 1) + value + '\0';
    }
    std::string build() const {
        return be16(9) + bytes({0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00}) + be16(1) +
               text(keys[0], design) + text(keys[1], part) + text(keys[2], date) +
               text(keys[3], time) + keys[4] + be32(image_length.value_or(image.size())) + image;
    }
};

// Header fields are read only when they fit the caller's buffer, so the buffers here are larger
// than the longest field.
class BitfileRead : public FormatFileTest {
protected:
    // Reads path into a buffer of size bytes (filled with 0x5A) and keeps every output.
    int read_bit(const std::string& path, int size, int info_size = 100) {
        buffer.assign(size, 0);
        length = -1;
        info.assign(info_size + 1, '#');  // the extra byte must stay untouched
        return bitfile_read(path.c_str(), buffer.data(), size, 0x5A, &length, info.data(),
                            info_size);
    }
    std::string info_text() const { return info.data(); }

    std::vector<uint8_t> buffer;
    int length = -1;
    std::vector<char> info;
};

TEST_F(BitfileRead, WellFormedFileDeliversTheImageBitReversed) {
    const std::string path = file("good.bit", BitFields{}.build());
    EXPECT_EQ(read_bit(path, 32), 1);
    EXPECT_EQ(length, 8);
    std::vector<uint8_t> expected{0xFF, 0xFF, 0xFF, 0xFF, 0x55, 0x99, 0xAA, 0x66};
    expected.resize(32, 0x5A);
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(info_text(), "Design name:top;UserID=0XFFFFFFFF Part:7a35tcpg236 2024/01/02 03:04:05");
    EXPECT_EQ(printed(), "");
}

TEST_F(BitfileRead, ImageMayFillTheBufferExactlyButNotExceedIt) {
    BitFields f;
    f.image = std::string(40, '\x01');
    const std::string path = file("image40.bit", f.build());
    EXPECT_EQ(read_bit(path, 40), 1);
    EXPECT_EQ(length, 40);
    EXPECT_EQ(buffer, std::vector<uint8_t>(40, 0x80));

    EXPECT_EQ(read_bit(path, 39), kBitfileFormatError);
    EXPECT_EQ(printed(), "Input file '" + path + "' exceeds device size.");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(39, 0x5A)) << "nothing of the image is left behind";
}

TEST_F(BitfileRead, TruncatedImageIsRefusedAndLeavesTheBufferFilled) {
    BitFields f;
    f.image = std::string(30, '\x0F');
    f.image_length = 64;
    const std::string path = file("short.bit", f.build());
    EXPECT_EQ(read_bit(path, 64), kBitfileFormatError);
    EXPECT_EQ(printed(), "Input file '" + path + "' exceeds device size.");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0x5A));
}

TEST_F(BitfileRead, WrongKeyIsReportedAloneAndTheImageStillRead) {
    BitFields f;
    f.keys = "xbcde";
    const std::string path = file("nokey.bit", f.build());
    EXPECT_EQ(read_bit(path, 32), kBitfileFormatError);
    EXPECT_EQ(printed(), "File format error: '" + path + "'. (key 'a' missing)");
    EXPECT_EQ(length, 8);
    EXPECT_EQ(buffer[4], 0x55);
}

TEST_F(BitfileRead, EveryFaultIsReportedInFileOrder) {
    BitFields f;
    f.keys = "abzdq";
    f.image_length = 9;
    const std::string p = file("faults.bit", f.build());
    EXPECT_EQ(read_bit(p, 32), kBitfileFormatError);
    EXPECT_EQ(printed(), "File format error: '" + p + "'. (key 'c' missing)" +
                             "File format error: '" + p + "'. (key 'e' missing)" +
                             "Input file '" + p + "' exceeds device size.");
    EXPECT_EQ(length, 0);
}

TEST_F(BitfileRead, FileEndingAfterThePartNameReportsEachMissingField) {
    const std::string whole = BitFields{}.build();
    const std::string p = file("cut.bit", whole.substr(0, whole.find("2024/01/02") - 3));
    EXPECT_EQ(read_bit(p, 32), kBitfileFormatError);
    EXPECT_EQ(printed(), "Input file format error (key 'c' len)"
                         "File format error: '" + p + "'. (key 'c' missing)"
                         "Input file format error (len)"
                         "Input file format error (key 'd' len)"
                         "File format error: '" + p + "'. (key 'd' missing)"
                         "Input file format error (len)"
                         "Input file format error. (key 'e' len)"
                         "File format error: '" + p + "'. (key 'e' missing)"
                         "Input file format error (image len)");
    EXPECT_EQ(info_text(), "Design name:top;UserID=0XFFFFFFFF Part:7a35tcpg236  ");
    EXPECT_EQ(length, 0);
}

TEST_F(BitfileRead, DescriptionIsCutToTheInfoSize) {
    const std::string path = file("good.bit", BitFields{}.build());
    EXPECT_EQ(read_bit(path, 32, 10), 1);
    EXPECT_EQ(info_text(), "Design na");
    EXPECT_EQ(info[10], '#');
}

TEST_F(BitfileRead, UnopenablePathsReturn12Silently) {
    for (const std::string& path : {(dir_ / "missing.bit").string(), dir_.string()}) {
        EXPECT_EQ(read_bit(path, 4), 12) << path;
        EXPECT_EQ(length, 0);
        EXPECT_EQ(info_text(), "");
    }
    EXPECT_EQ(printed(), "");
}

TEST_F(BitfileRead, SyntheticBitstreamReadsBackWhole) {
    const sim::XilinxPart* part = sim::find_xilinx_part("XC7A35T");
    ASSERT_NE(part, nullptr);
    const sim::BitgenOptions opt;
    const auto image = sim::make_config_image(*part, opt);
    const auto bit = sim::make_bit_file(*part, opt, "2024/05/06", "07:08:09");
    const std::string path = file("synthetic.bit", std::string(bit.begin(), bit.end()));

    ASSERT_EQ(read_bit(path, static_cast<int>(image.size())), 1) << printed();
    EXPECT_EQ(length, static_cast<int>(image.size()));
    EXPECT_EQ(info_text().rfind("Design name:" + sim::bit_design_string(opt) + " Part:", 0), 0u)
        << info_text();
    for (size_t i = 0; i < image.size(); ++i)
        ASSERT_EQ(buffer[i], mirrored(image[i])) << "byte " << i;
}

}  // namespace
}  // namespace vireo::test
