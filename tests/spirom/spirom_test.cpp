// Opening the configuration flash through the modules' SPI bridge on the virtual board: the
// bridge loaded only when the FPGA does not run it, identification and sizing from the part
// table, refusals, and the inspection dumps.
#include "spirom/spirom.h"

#include "spirom/spirom_fixture.h"

namespace vireo::test {
namespace {

TEST_F(SpiRomTest, RefusalsLeaveNoContext) {
    // No bridge file where it should be: named, nothing configured.
    DevAlgModule* m = board_with("XC7A100T", "N25Q128");
    const std::string missing = (folder_ / "absent.bit").string();
    EXPECT_EQ(spirom_open(m, missing.c_str(), 0), nullptr);
    EXPECT_EQ(g_lines, std::vector<std::string>{
                           "SPI書き込み一時ファイル spi_xc7a100t.bit が見つかりません\n"});
    EXPECT_EQ(jprograms(), 0);

    // A bridge file that does not configure (an image for another part).
    g_lines.clear();
    EXPECT_EQ(spirom_open(m, bit_file("XC7A200T").c_str(), 0), nullptr);
    EXPECT_FALSE(fpga()->engine().done());

    // The cable goes during identification.
    const std::string bridge = bridge_file("XC7A100T");
    ASSERT_TRUE(Context(spirom_open(m, bridge.c_str(), 0)));
    cable().unplug_after = cable().transfers + 3;
    EXPECT_EQ(spirom_open(m, bridge.c_str(), 0), nullptr);

    // No flash behind the bridge: the identification reads no answer, which is no part at all.
    cable().unplug_after = -1;
    cable().gone = false;
    DevAlgModule* bare = board_with("XC7A100T", nullptr);
    g_lines.clear();
    EXPECT_EQ(spirom_open(bare, bridge.c_str(), 0), nullptr);
    EXPECT_TRUE(std::ranges::any_of(g_lines, [](const std::string& line) {
        return line.starts_with("No SPI flash answered the identification (0x9F read 00 00 00)");
    })) << testing::PrintToString(g_lines);
}

TEST_F(SpiRomTest, IdentifiesEachMakersPartsAndLoadsTheBridgeOnce) {
    const struct {
        const char* fpga;
        const char* flash;  // the flash model on the FPGA's configuration pins
        uint32_t jedec;
        const char* name;
        int page_size, pages, shift, maker;
    } cases[] = {
        {"XC7A100T", "N25Q128", 0x20BA18, "N25Q128", 256, 65536, 8, 5},
        {"XC6SLX45", "M25P128", 0x202018, "M25P128", 256, 65536, 8, 2},
        {"XC7K160T", "SST25VF032B", 0xBF254A, "SST25VF032B", 512, 8192, 9, 3},
        {"XC7Z020", "W25Q128FV/FW", 0xEF6018, "W25Q128FV/FW", 256, 65536, 8, 4},
        {"XC6SLX16", "AT45DB161D", 0x1F2600, "AT45DB161D", 528, 4096, 10, 1},
        {"XC6SLX45", "AT25DQ321", 0x1F8700, "AT25DQ321", 256, 16384, 8, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fpga) + " " + c.flash);
        DevAlgModule* m = board_with(c.fpga, c.flash);
        const std::string bridge = bridge_file(c.fpga);
        Context ctx(spirom_open(m, bridge.c_str(), SPIROM_OPT_TRIM));
        ASSERT_TRUE(ctx);
        EXPECT_EQ(ctx->jedec, c.jedec);
        EXPECT_EQ(ctx->name, c.name);
        EXPECT_EQ(ctx->page_size, c.page_size);
        EXPECT_EQ(ctx->page_count, c.pages);
        EXPECT_EQ(ctx->address_shift, c.shift);
        EXPECT_EQ(ctx->maker, c.maker);
        EXPECT_EQ(ctx->trim_header, 1);
        EXPECT_EQ(jprograms(), 2) << "Shutdown and the bridge's Write";
        Context again(spirom_open(m, bridge.c_str(), 0));
        ASSERT_TRUE(again);
        EXPECT_EQ(again->jedec, ctx->jedec);
        EXPECT_EQ(jprograms(), 2) << "a running bridge is not loaded again";
    }
}

TEST_F(SpiRomTest, DumpsNameWhatTheFlashAnswers) {
    DevAlgModule* m = board_with("XC7A100T", "W25Q128BV/JV");
    Context ctx(spirom_open(m, bridge_file("XC7A100T").c_str(), 0));
    ASSERT_TRUE(ctx);
    g_lines.clear();
    spirom_show_id(ctx.get());
    ASSERT_EQ(g_lines.size(), 5u);
    EXPECT_EQ(g_lines[0], "Device idcode読み出し");
    EXPECT_TRUE(g_lines[1].starts_with("00000000  EF 40 18 ")) << g_lines[1];
    EXPECT_EQ(g_lines[2], " ");
    EXPECT_EQ(g_lines[3], "Status register読み出し");
    g_lines.clear();
    spirom_show_unique_id(ctx.get());
    ASSERT_EQ(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0], "Unique ID code読み出し ");
    EXPECT_EQ(g_lines[2], " ");

    // Six bytes: one line, the columns past the data blank, the character column dotted (0x9B
    // too: no raw byte above ASCII reaches a UTF-8 log or a terminal).
    g_lines.clear();
    const uint8_t bytes[6] = {0x41, 0x00, 0x7F, 0x20, 0x7E, 0x9B};
    hex_dump_log(bytes, 6, 0x10);
    // Two empty columns, the extra blank before column 8, eight empty columns, the separator.
    const std::string hex =
        "00000010  41 00 7F 20 7E 9B " + std::string(2 * 3 + 1 + 8 * 3 + 1, ' ');
    EXPECT_EQ(g_lines, std::vector<std::string>{hex + "A.. ~." + std::string(2 + 1 + 8, ' ')});
}

}  // namespace
}  // namespace vireo::test
