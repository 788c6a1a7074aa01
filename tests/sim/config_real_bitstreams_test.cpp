// The virtual FPGA against real vendor-tool output: the Vivado and ISE images that Debian's
// openfpgaloader package installs must configure the matching virtual parts, every CRC check
// passing, exactly as they configure silicon.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config_test_util.h"
#include "sim/xilinx_parts.h"

namespace vireo::sim {
namespace {

const char* const kDir = "/usr/share/openFPGALoader";

std::vector<uint8_t> gunzip(const std::filesystem::path& path) {
    std::vector<uint8_t> data;
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) return data;
    uint8_t buf[1 << 16];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0) data.insert(data.end(), buf, buf + n);
    gzclose(f);
    return data;
}

struct BitFile {
    std::string design, part;
    std::vector<uint8_t> image;
};

// Header: 13 fixed bytes, then keyed fields 'a'..'d' (16-bit length) and 'e' (32-bit length).
std::optional<BitFile> parse_bit(const std::vector<uint8_t>& d) {
    BitFile bit;
    size_t i = 13;
    while (i + 3 <= d.size()) {
        const char key = static_cast<char>(d[i]);
        if (key == 'e') {
            if (i + 5 > d.size()) return std::nullopt;
            const size_t n = (size_t{d[i + 1]} << 24) | (size_t{d[i + 2]} << 16) |
                             (size_t{d[i + 3]} << 8) | d[i + 4];
            if (i + 5 + n != d.size()) return std::nullopt;
            bit.image.assign(d.begin() + static_cast<long>(i + 5), d.end());
            return bit;
        }
        const size_t len = (size_t{d[i + 1]} << 8) | d[i + 2];
        if (i + 3 + len > d.size() || len == 0) return std::nullopt;
        const std::string text(d.begin() + static_cast<long>(i + 3),
                               d.begin() + static_cast<long>(i + 3 + len - 1));
        if (key == 'a') bit.design = text;
        if (key == 'b') bit.part = text;
        i += 3 + len;
    }
    return std::nullopt;
}

TEST(RealBitstreams, ConfigureTheMatchingVirtualParts) {
    if (!std::filesystem::is_directory(kDir))
        GTEST_SKIP() << kDir
                     << " is missing: install the openfpgaloader package (scripts/bootstrap)";
    size_t configured = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kDir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("spiOverJtag_xc", 0) != 0 || name.find(".bit.gz") == std::string::npos)
            continue;
        const auto bit = parse_bit(gunzip(entry.path()));
        ASSERT_TRUE(bit) << name;
        const XilinxPart* part = find_xilinx_part(bit->part);
        if (!part) continue;  // Spartan-3E, UltraScale+ and dies outside the table
        SCOPED_TRACE(name);

        const bool compressed = bit->design.find("COMPRESS=TRUE") != std::string::npos;
        if (!compressed) {
            EXPECT_EQ(bit->image.size(), size_t{part->image_words} * bytes_per_word(*part));
        }
        testing::Fpga fpga(*part);
        fpga.configure(bit->image);
        EXPECT_TRUE(fpga.engine.done());
        EXPECT_TRUE(fpga.engine.isc_done());
        EXPECT_EQ(fpga.count_logged("check passed"), 2u);
        EXPECT_FALSE(fpga.logged("failed"));
        EXPECT_FALSE(fpga.engine.design().spi_bridge);
        ++configured;
    }
    EXPECT_GE(configured, 20u);
}

TEST(SyntheticBitFile, HeaderReadsLikeAVendorFile) {
    const XilinxPart& part = *find_xilinx_part("XC7A100T");
    BitgenOptions opt;
    opt.design_name = "vireo_synthetic_bridge";
    opt.spi_bridge = true;
    const auto file = make_bit_file(part, opt, "2024/05/06", "07:08:09");
    ASSERT_GE(file.size(), 13u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 13),
              (std::vector<uint8_t>{0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0,
                                    0x00, 0x00, 0x01}));
    const auto bit = parse_bit(file);
    ASSERT_TRUE(bit);
    EXPECT_EQ(bit->design, "vireo_synthetic_bridge;UserID=0xFFFFFFFF;Synthetic=VirtualBoardOnly");
    EXPECT_EQ(bit->part, "7a100tcsg324");
    EXPECT_EQ(bit->image, make_config_image(part, opt));
}

}  // namespace
}  // namespace vireo::sim
