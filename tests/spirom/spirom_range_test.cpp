// Flash ranges on the flash models: a range past the flash refused before anything is read or
// erased, and the AT45 528-byte pages, whose addresses are page x 0x400 + byte while a count runs
// through the pages' bytes. (The property test checks erase and read ranges against a model.)
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/spi_flash.h"
#include "spirom/spirom_fixture.h"
#include "spirom/spirom_ops.h"

namespace vireo::test {
namespace {

using SpiRomRangeTest = SpiRomTest;

std::string byte_text(const std::vector<uint8_t>& rom, size_t from, int count) {
    std::string text;
    char b[4];
    for (int i = 0; i < count; ++i) std::snprintf(b, sizeof b, "%02X ", rom[from + i]), text += b;
    return text;
}

TEST_F(SpiRomRangeTest, RangesPastTheFlashAreRefusedBeforeAnythingIsTouched) {
    Context ctx = open_flash("M25P20");  // 256 KB
    ASSERT_TRUE(ctx);
    std::fill(rom().begin(), rom().end(), 0x5A);
    const std::string out = (folder_ / "out.bin").string();
    const int64_t transfers = cable().transfers;
    const struct {
        uint32_t offset;
        int64_t count;
        std::string line;
    } cases[] = {
        {0x3FF00, 0x101, "0x101 bytes from 0x3FF00 run 0x1 bytes past the end of the flash."},
        {0x40000, 1, "オフセット 0x40000 はROMの範囲外です"},
    };
    for (const auto& c : cases) {
        g_lines.clear();
        EXPECT_EQ(spirom_erase_range(ctx.get(), c.offset, c.count), 16);
        EXPECT_EQ(spirom_read_back(ctx.get(), out.c_str(), c.offset, c.count), 16);
        EXPECT_EQ(spirom_dump(ctx.get(), c.offset, c.count), 16);
        EXPECT_EQ(std::ranges::count(g_lines, c.line), 3) << testing::PrintToString(g_lines);
        EXPECT_TRUE(logged("The flash holds 262144 bytes (0x40000): addresses 0 to 0x3FFFF."));
    }
    EXPECT_EQ(cable().transfers, transfers) << "nothing sent to the flash";
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_TRUE(std::ranges::all_of(rom(), [](uint8_t b) { return b == 0x5A; }));
    // Before the flash is known: the largest one ends at 0x1FFFFFF.
    EXPECT_EQ(spirom_check_range(0x1FFFFFF, 1), 1);
    EXPECT_EQ(spirom_check_range(0x1FFFFFF, 2), 16);
    EXPECT_EQ(spirom_check_range(0x2000000, -1), 16);
}

TEST_F(SpiRomRangeTest, At45AddressesArePagesOf0x400WhileCountsRunThroughTheBytes) {
    // AT45DB161D in 528-byte pages: page 1 byte 0x200 is address 0x600; its last 16 bytes are
    // followed by the first 16 of page 2 at 0x800.
    Context ctx = open_flash("AT45DB161D");
    ASSERT_TRUE(ctx);
    for (size_t i = 0; i < rom().size(); ++i) rom()[i] = static_cast<uint8_t>(i * 13 + i / 509);
    EXPECT_EQ(spirom_dump(ctx.get(), 0x600, 0x20), 1);
    ASSERT_EQ(g_lines.size(), 3u) << testing::PrintToString(g_lines);
    EXPECT_TRUE(g_lines[1].starts_with("00000600  " + byte_text(rom(), 528 + 512, 8)));
    EXPECT_TRUE(g_lines[2].starts_with("00000800  " + byte_text(rom(), 2 * 528, 8)));
    const std::string out = (folder_ / "at45.bin").string();
    EXPECT_EQ(spirom_read_back(ctx.get(), out.c_str(), 0x600, 0x20), 1);
    std::ifstream in(out, std::ios::binary);
    const std::vector<uint8_t> read{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(read, std::vector<uint8_t>(rom().begin() + 528 + 512, rom().begin() + 528 + 544));
    g_lines.clear();
    EXPECT_EQ(spirom_dump(ctx.get(), 0x610, 1), 16) << "byte 528 of a page does not exist";
    EXPECT_TRUE(logged("0x610 is no byte of the flash: it lies behind the end of page 1."));
    // A plain dump (256 bytes) takes the same path: the next page under its own address.
    EXPECT_EQ(spirom_dump(ctx.get(), 0x610, -1), 16);
    g_lines.clear();
    EXPECT_EQ(spirom_dump(ctx.get(), 0x600, -1), 1);
    ASSERT_GE(g_lines.size(), 3u) << testing::PrintToString(g_lines);
    EXPECT_TRUE(g_lines[2].starts_with("00000800  " + byte_text(rom(), 2 * 528, 8)));
}

}  // namespace
}  // namespace vireo::test
