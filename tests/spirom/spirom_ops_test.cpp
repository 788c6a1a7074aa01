// The flash operations on the virtual board's flash models: refusals before anything is erased,
// program / verify / erase / blank check / read back / dump per command group, the bytes of a
// sector outside the image kept, busy waits bounded by the data sheets, cancel and a lost cable.
#include "spirom/spirom_ops.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/spi_flash.h"
#include "spirom/spirom_file.h"
#include "spirom/spirom_fixture.h"

namespace vireo::test {
namespace {

constexpr uint64_t kS = 1'000'000'000;

std::vector<uint8_t> data(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed + i / 251);
    return v;
}
std::vector<uint8_t> text(const std::string& s) {
    return {s.begin(), s.end()};
}
bool all_of(const std::vector<uint8_t>& rom, size_t from, size_t to, uint8_t value) {
    return std::all_of(rom.begin() + from, rom.begin() + to, [&](uint8_t b) { return b == value; });
}
bool holds(const std::vector<uint8_t>& rom, size_t at, const std::vector<uint8_t>& bytes,
           size_t from = 0, size_t count = SIZE_MAX) {
    count = std::min(count, bytes.size() - from);
    return std::equal(bytes.begin() + from, bytes.begin() + from + count, rom.begin() + at);
}
std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}
// A copy of a part with other busy times; the models keep a reference to their part.
std::shared_ptr<sim::SpiFlash> slow(const char* name, uint64_t page_ns, uint64_t sector_ns,
                                    uint64_t chip_ns) {
    static std::vector<std::unique_ptr<sim::FlashPart>> parts;
    auto& p = parts.emplace_back(std::make_unique<sim::FlashPart>(*sim::find_flash_part(name)));
    p->page_ns = page_ns, p->sector_ns = sector_ns, p->chip_ns = chip_ns;
    return sim::make_spi_flash(*p);
}

using SpiRomOpsTest = SpiRomTest;

// A flash part as the bus sees it: the bytes of every transaction on MOSI, the part answering.
class BusTap : public sim::SpiFlash {
  public:
    explicit BusTap(std::shared_ptr<sim::SpiFlash> part) : part_(std::move(part)) {}
    void select() override {
        sent.emplace_back();
        part_->select();
    }
    uint8_t output() override { return part_->output(); }
    void input(uint8_t mosi) override {
        sent.back().push_back(mosi);
        part_->input(mosi);
    }
    void deselect(bool whole_bytes) override { part_->deselect(whole_bytes); }
    void advance(uint64_t now_ns) override { part_->advance(now_ns); }
    std::vector<uint8_t>& array() override { return part_->array(); }
    bool busy() const override { return part_->busy(); }
    uint64_t changes() const override { return part_->changes(); }
    // The transactions that begin with `op`.
    std::vector<std::vector<uint8_t>> with(uint8_t op) const {
        std::vector<std::vector<uint8_t>> found;
        for (const auto& t : sent)
            if (!t.empty() && t[0] == op) found.push_back(t);
        return found;
    }
    std::vector<std::vector<uint8_t>> sent;

  private:
    std::shared_ptr<sim::SpiFlash> part_;
};

// The file loader's 1 and 0, an identification the part table does not name, and the bytes the
// operations clock out.
TEST_F(SpiRomOpsTest, LoaderResultsUnknownPartsAndTheBytesOnTheBus) {
    std::vector<uint8_t> buffer(64);
    int64_t length = -1;
    const std::string missing = (folder_ / "missing.bin").string();
    EXPECT_EQ(spirom_load_file(missing.c_str(), buffer.data(), 64, &length), 0);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_TRUE(g_lines[0].starts_with("ファイル" + missing + "が読み込めません (")) << g_lines[0];
    const std::string big = write_file("big.bin", data(100, 3));
    EXPECT_EQ(spirom_load_file(big.c_str(), buffer.data(), 64, &length), 1);
    EXPECT_EQ(length, 64) << "the image stops at the buffer's end, and the log says so";
    EXPECT_EQ(g_lines.size(), 2u);
    const std::string broken = write_file("broken.mcs", text(":0300300002337A00\n"));
    EXPECT_EQ(spirom_load_file(broken.c_str(), buffer.data(), 64, &length), 1);

    // A Winbond identification outside the table: one page of one byte, no maker code; nothing
    // is programmed, as a block erase would wipe bytes the context cannot read back.
    static sim::FlashPart unknown = *sim::find_flash_part("W25Q16BV");
    unknown.id = {0xEF, 0x30, 0x15};
    Context ctx = open_flash(sim::make_spi_flash(unknown));
    ASSERT_TRUE(ctx);
    EXPECT_EQ(std::string(ctx->name), "不明");
    EXPECT_EQ(ctx->page_size, 1);
    EXPECT_EQ(ctx->page_count, 1);
    EXPECT_EQ(ctx->address_shift, 0);
    EXPECT_EQ(ctx->maker, 0);
    std::fill_n(rom().begin(), 0x1000, 0x5A);
    const std::string one = write_file("one.bin", {0x00});
    EXPECT_EQ(spirom_program(ctx.get(), one.c_str(), 0), 17);
    EXPECT_TRUE(all_of(rom(), 0, 0x1000, 0x5A));

    // Verify clocks 0xEE while it reads, blank check zeros.
    auto tap = std::make_shared<BusTap>(sim::make_spi_flash(*sim::find_flash_part("N25Q128")));
    ctx = open_flash(tap);
    ASSERT_TRUE(ctx);
    const std::string file = write_file("a.bin", data(300, 5));
    ASSERT_EQ(spirom_program(ctx.get(), file.c_str(), 0), 1);
    tap->sent.clear();
    EXPECT_EQ(spirom_verify(ctx.get(), file.c_str(), 0), 1);
    ASSERT_FALSE(tap->with(0x0B).empty());
    for (const auto& read : tap->with(0x0B)) {
        ASSERT_GT(read.size(), 5u);
        EXPECT_EQ(read[4], 0x00) << "the dummy byte";
        EXPECT_TRUE(all_of(read, 5, read.size(), 0xEE));
    }
    tap->sent.clear();
    EXPECT_EQ(spirom_blank_check(ctx.get()), 15);
    ASSERT_FALSE(tap->with(0x0B).empty());
    EXPECT_TRUE(all_of(tap->with(0x0B)[0], 4, tap->with(0x0B)[0].size(), 0x00));

    // The AT25DQ321's chip erase takes the 25-series commands only, none of the DataFlash's.
    tap = std::make_shared<BusTap>(sim::make_spi_flash(*sim::find_flash_part("AT25DQ321")));
    ctx = open_flash(tap);
    ASSERT_TRUE(ctx);
    tap->sent.clear();
    EXPECT_EQ(spirom_erase(ctx.get()), 1);
    EXPECT_TRUE(tap->with(0xD7).empty());
    EXPECT_EQ(tap->with(0xC7), (std::vector<std::vector<uint8_t>>{{0xC7}}));
    EXPECT_FALSE(logged("チップ消去を開始します"));
}

TEST_F(SpiRomOpsTest, RefusalsComeBeforeAnythingIsErased) {
    Context ctx = open_flash("N25Q128");
    ASSERT_TRUE(ctx);
    std::fill_n(rom().begin(), 0x30000, 0x5A);
    const std::string raw = write_file("a.bin", data(600, 1));
    const std::string missing = (folder_ / "none.bin").string();
    const std::string bad_hex = write_file("bad.mcs", text(":0300300002337A1F\n"));
    const std::string bad_srec = write_file("bad.srec", text("S107000041424344EF\n"));
    const struct {
        const char* path;
        uint32_t offset;
        int result;
        std::string line;
    } cases[] = {
        {"", 0, 12, "ファイルが指定されていません"},
        {missing.c_str(), 0, 12, "ファイル" + missing + "が読み込めません (not found)"},
        {raw.c_str(), 0x10010, 16,
         "オフセット 0x10010 はページの先頭ではありません (ページ 256バイト)"},
        {raw.c_str(), 0x1000000, 16, "オフセット 0x1000000 はROMの範囲外です"},
        {raw.c_str(), 0xFFFE00, 16,
         "ファイル" + raw + "はオフセット 0xFFFE00 からのROMの容量 (512バイト) を超えています"},
        {bad_hex.c_str(), 0, 13, "ファイル" + bad_hex + "に誤りがあるため使用しません"},
        {bad_srec.c_str(), 0, 13, "ファイル" + bad_srec + "に誤りがあるため使用しません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.offset));
        g_lines.clear();
        EXPECT_EQ(spirom_program(ctx.get(), c.path, c.offset), c.result);
        EXPECT_TRUE(logged(c.line)) << testing::PrintToString(g_lines);
        EXPECT_EQ(spirom_verify(ctx.get(), c.path, c.offset), c.result);
    }
    EXPECT_TRUE(all_of(rom(), 0, 0x30000, 0x5A));
    EXPECT_TRUE(all_of(rom(), 0x30000, rom().size(), 0xFF));
    EXPECT_EQ(spirom_program(nullptr, raw.c_str(), 0), 0);
}

TEST_F(SpiRomOpsTest, ProgramKeepsTheSectorOutsideTheImageAndVerifyFindsDifferences) {
    Context ctx = open_flash("N25Q128");
    ASSERT_TRUE(ctx);
    std::fill_n(rom().begin(), 0x30000, 0x5A);
    const auto file = data(300, 3);
    const std::string path = write_file("a.bin", file);
    EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0x10100), 1);
    EXPECT_TRUE(logged("Erasing sector 1"));
    EXPECT_TRUE(logged("Page 258の中(300バイト目)でファイルが終了し、書き込み完了しました。"));
    EXPECT_TRUE(holds(rom(), 0x10100, file));
    EXPECT_TRUE(all_of(rom(), 0, 0x10100, 0x5A));
    EXPECT_TRUE(all_of(rom(), 0x10100 + 300, 0x30000, 0x5A));

    g_lines.clear();
    EXPECT_EQ(spirom_verify(ctx.get(), path.c_str(), 0x10100), 1);
    EXPECT_TRUE(
        logged("Page 258の中(300バイト目)でファイルが終了しました。比較結果は一致しています。"));
    rom()[0x10100 + 299] ^= 1;
    g_lines.clear();
    EXPECT_EQ(spirom_verify(ctx.get(), path.c_str(), 0x10100), 15);
    EXPECT_TRUE(logged("page 258 で結果不一致"));
    EXPECT_TRUE(logged("ベリファイエラーがあります"));
    EXPECT_TRUE(std::ranges::any_of(g_lines, [](auto& l) { return l.starts_with("Byte 0x2b, "); }));

    // The Winbond group: 300 bytes at 0 erase block 0 and fill pages 0 and 1.
    ctx = open_flash("W25Q128BV/JV");
    EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0), 1);
    EXPECT_TRUE(logged("Erasing block 0"));
    EXPECT_TRUE(logged("Page 1の中(300バイト目)でファイルが終了し、書き込み完了しました。"));
    EXPECT_TRUE(holds(rom(), 0, file));
    EXPECT_EQ(spirom_verify(ctx.get(), path.c_str(), 0), 1);
}

TEST_F(SpiRomOpsTest, TextFormatsAndBitHeaders) {
    Context ctx = open_flash("W25Q128BV/JV");
    ASSERT_TRUE(ctx);
    const std::string hex = write_file("a.mcs", text(":0300300002337A1E\n:00000001FF\n"));
    EXPECT_EQ(spirom_program(ctx.get(), hex.c_str(), 0), 1);
    EXPECT_TRUE(holds(rom(), 0x30, {0x02, 0x33, 0x7A}));
    EXPECT_TRUE(logged("最終アドレス=00000033"));
    // The S-record's highest address holds data: a difference there is found.
    const std::string srec = write_file("a.srec", text("S107000041424344EE\nS9030000FC\n"));
    EXPECT_EQ(spirom_program(ctx.get(), srec.c_str(), 0x10000), 1);
    EXPECT_TRUE(holds(rom(), 0x10000, text("ABCD")));
    EXPECT_EQ(spirom_verify(ctx.get(), srec.c_str(), 0x10000), 1);
    rom()[0x10003] = 0;
    EXPECT_EQ(spirom_verify(ctx.get(), srec.c_str(), 0x10000), 15);
    // objcopy's name for S-records; a .bit that is no bitstream is not written as raw bytes.
    const std::string s19 = write_file("a.s19", text("S107002041424344CE\nS9030000FC\n"));
    EXPECT_EQ(spirom_program(ctx.get(), s19.c_str(), 0), 1);
    EXPECT_TRUE(holds(rom(), 0x20, text("ABCD")));
    const std::string noise = write_file("noise.bit", data(5000, 1));
    EXPECT_EQ(spirom_program(ctx.get(), noise.c_str(), 0x20000), 13);
    EXPECT_TRUE(all_of(rom(), 0x20000, 0x21000, 0xFF));

    const std::vector<uint8_t> image = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0xAA, 0x99, 0x55, 0x66, 1,    2,    3};
    const std::string bit = raw_bit_file("a.bit", image);
    ctx = open_flash("W25Q128BV/JV", SPIROM_OPT_TRIM);
    EXPECT_EQ(spirom_program(ctx.get(), bit.c_str(), 0), 1);
    EXPECT_TRUE(holds(rom(), 0, image));
    EXPECT_EQ(spirom_verify(ctx.get(), bit.c_str(), 0), 1);
    ctx = open_flash("W25Q128BV/JV");
    EXPECT_EQ(spirom_program(ctx.get(), bit.c_str(), 0), 1);
    EXPECT_TRUE(holds(rom(), 0, read_file(bit)));
    // A 7-series image: eight 0xFF bytes and the bus width pattern before the sync word; the
    // header ends where the file says its image begins.
    const std::vector<uint8_t> image7 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0x00, 0x00, 0x00, 0xBB, 0x11, 0x22, 0x00, 0x44,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xAA, 0x99, 0x55, 0x66, 4,    5,    6};
    const std::string bit7 = raw_bit_file("a7.bit", image7);
    ctx = open_flash("W25Q128BV/JV", SPIROM_OPT_TRIM);
    EXPECT_EQ(spirom_program(ctx.get(), bit7.c_str(), 0x10000), 1);
    EXPECT_TRUE(holds(rom(), 0x10000, image7));
    EXPECT_TRUE(all_of(rom(), 0x10000 + image7.size(), 0x10100, 0xFF));
    EXPECT_EQ(spirom_verify(ctx.get(), bit7.c_str(), 0x10000), 1);
}

TEST_F(SpiRomOpsTest, ChipEraseEndsByTheFlashOrFailsAndNeverReportsDoneOtherwise) {
    // Longer than the part's data-sheet maximum (250 s): a failure.
    Context ctx = open_flash(slow("N25Q128", 500'000, 700'000'000, 300 * kS));
    ASSERT_TRUE(ctx);
    EXPECT_EQ(spirom_erase(ctx.get()), 0);
    EXPECT_FALSE(logged("消去完了\n"));
    EXPECT_TRUE(logged("チップ消去が250秒以内に終わりませんでした"));
    ctx = open_flash(slow("SST25VF032B", 10'000, 25'000'000, 80'000'000));
    EXPECT_EQ(spirom_erase(ctx.get()), 0);
    EXPECT_TRUE(logged("チップ消去が50ミリ秒以内に終わりませんでした"));

    // Cancelled while the flash erases.
    ctx = open_flash("N25Q128");
    g_running_for = 3;
    EXPECT_EQ(spirom_erase(ctx.get()), 24);
    EXPECT_FALSE(logged("消去完了\n"));
    EXPECT_TRUE(logged("消去を中止しました"));

    // 170 s typical: longer than 100 status reads a second apart, within the maximum.
    const char* parts[] = {"N25Q128", "W25Q128BV/JV", "SST25VF032B", "AT25DQ321", "AT45DB161D"};
    for (const char* part : parts) {
        SCOPED_TRACE(part);
        ctx = open_flash(part);
        std::fill_n(rom().begin(), 0x1000, 0x00);
        g_running_for = -1;
        EXPECT_EQ(spirom_erase(ctx.get()), 1);
        EXPECT_TRUE(logged("消去完了\n"));
        EXPECT_TRUE(all_of(rom(), 0, 0x1000, 0xFF));
    }
}

TEST_F(SpiRomOpsTest, ProgramStopsAtTimeOutsCancelAndALostCable) {
    const auto file = data(1300, 5);
    const std::string path = write_file("a.bin", file);
    // A sector erase past the 3 s maximum: no page goes over the unfinished erase.
    Context ctx = open_flash(slow("N25Q128", 500'000, 4 * kS, 170 * kS));
    ASSERT_TRUE(ctx);
    EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0), 0);
    EXPECT_TRUE(logged("セクタ 0 消去失敗"));
    EXPECT_TRUE(all_of(rom(), 0, 0x10000, 0xFF));

    // A page past the 5 ms maximum: reported, nothing after it.
    ctx = open_flash(slow("N25Q128", 6'000'000, 700'000'000, 170 * kS));
    EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0), 0);
    EXPECT_TRUE(logged("Page 0 書き込み失敗"));
    EXPECT_TRUE(all_of(rom(), 256, 0x10000, 0xFF));

    // A cancel finishes the sector in hand, its kept bytes included, and stops before the next.
    ctx = open_flash("N25Q128");
    std::fill_n(rom().begin(), 0x20000, 0x5A);
    g_running_calls = 2;
    EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0xFF00), 24);
    EXPECT_TRUE(logged("書き込みを中止しました"));
    EXPECT_TRUE(all_of(rom(), 0, 0xFF00, 0x5A));
    EXPECT_TRUE(holds(rom(), 0xFF00, file, 0, 256));
    EXPECT_TRUE(all_of(rom(), 0x10000, 0x20000, 0x5A));
    g_running_calls = -1;

    // The cable goes in the middle of the pages of a sector that holds only the file's bytes:
    // nothing to save, but the log says what may be damaged.
    ctx = open_flash("N25Q128");
    g_running_for = -1;
    const std::string whole = write_file("whole.bin", data(0x10000, 6));
    cable().unplug_after = cable().transfers + 60;
    EXPECT_EQ(spirom_program(ctx.get(), whole.c_str(), 0), 21);
    EXPECT_TRUE(
        logged("0x00000000-0x0000FFFF may now be erased or half-written; it held nothing "
               "but bytes of the file and erased ones, so programming the file again puts "
               "it right."))
        << testing::PrintToString(g_lines);
}

TEST_F(SpiRomOpsTest, ACutAfterTheEraseSavesTheSectorAndNamesTheRestore) {
    // 300 bytes inside a sector of other data, the cable cut at points spread over the whole
    // program: either the other data is still in the flash, or the log names a file that
    // restores it.
    const auto file = data(300, 23);
    const std::string path = write_file("a.bin", file);
    std::vector<uint8_t> before(0x10000);
    for (size_t i = 0; i < before.size(); ++i) before[i] = static_cast<uint8_t>(i / 3);
    int64_t all = 0;  // transfers of a whole program
    {
        Context ctx = open_flash("N25Q128");
        std::copy(before.begin(), before.end(), rom().begin());
        const int64_t start = cable().transfers;
        ASSERT_EQ(spirom_program(ctx.get(), path.c_str(), 0x8000), 1);
        all = cable().transfers - start;
    }
    bool rescued = false;
    // The restore command reaches the board the front end names.
    set_query_callback([](const char* key) {
        return std::string(key) == "board_options" ? std::string("--sim kb2203 ")
                                                   : database_query(key);
    });
    for (int64_t cut = 1; cut < all; cut += all / 16) {
        SCOPED_TRACE("cut after " + std::to_string(cut));
        Context ctx = open_flash("N25Q128");
        ASSERT_TRUE(ctx);
        std::copy(before.begin(), before.end(), rom().begin());
        cable().unplug_after = cable().transfers + cut;
        const int result = spirom_program(ctx.get(), path.c_str(), 0x8000);
        cable().unplug_after = -1;
        cable().gone = false;
        EXPECT_EQ(result, 21);
        const auto line = std::ranges::find_if(
            g_lines, [](const std::string& l) { return l.starts_with("復元するには: "); });
        // The file's bytes may be anything after a cut; the rescue file holds them as programmed.
        std::vector<uint8_t> now(rom().begin(), rom().begin() + 0x10000), meant = before;
        std::copy_n(file.begin(), 300, meant.begin() + 0x8000);
        std::copy_n(file.begin(), 300, now.begin() + 0x8000);
        if (line == g_lines.end()) {
            EXPECT_EQ(now, meant) << "damaged without a rescue file";
            continue;
        }
        rescued = true;
        const std::string saved = (folder_ / "vireo-flash-00000000-0000FFFF.bin").string();
        EXPECT_EQ(*line, "復元するには: vireo --sim kb2203 flash program --offset 0 " + saved);
        EXPECT_TRUE(
            logged("0x00000000-0x0000FFFF は消去されたため、ファイル外のデータを書き戻せ"
                   "ませんでした"));
        EXPECT_EQ(read_file(saved), meant);
        // Programming the sector again before the restore would keep its damaged bytes.
        g_lines.clear();
        EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0x8000), 0);
        EXPECT_TRUE(g_lines.size() == 2 && g_lines[1].starts_with(saved + " がまだ書き戻されて") &&
                    g_lines[1].find("vireo --sim kb2203 flash program --offset 0 ") !=
                        std::string::npos)
            << testing::PrintToString(g_lines);
        // The board plugged in again: powered up, its flash holding what the cut left.
        const std::shared_ptr<sim::SpiFlash> replugged =
            sim::make_spi_flash(*sim::find_flash_part("N25Q128"));
        replugged->array() = rom();
        ctx = open_flash(replugged);
        EXPECT_EQ(spirom_program(ctx.get(), saved.c_str(), 0), 1);
        EXPECT_TRUE(holds(rom(), 0, meant));
        std::filesystem::remove(saved);
    }
    set_query_callback(database_query);
    EXPECT_TRUE(rescued) << "no cut fell between the erase and the last write-back";

    // Erasing a range has no file: what could not be written back lies outside the range. Its
    // rescue file goes to the current folder, this test's own.
    const std::filesystem::path was = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    bool said = false;
    for (int64_t cut = 1; cut < all && !said; cut += std::max<int64_t>(1, all / 32)) {
        Context ctx = open_flash("N25Q128");
        std::copy(before.begin(), before.end(), rom().begin());
        cable().unplug_after = cable().transfers + cut;
        EXPECT_EQ(spirom_erase_range(ctx.get(), 0x8000, 300), 21);
        cable().unplug_after = -1;
        cable().gone = false;
        said = logged(
            "0x00000000-0x0000FFFF は消去されたため、消去範囲外のデータを書き戻せませんでし"
            "た");
        EXPECT_FALSE(
            logged("0x00000000-0x0000FFFF は消去されたため、ファイル外のデータを書き戻せま"
                   "せんでした"));
        std::filesystem::remove("vireo-flash-00000000-0000FFFF.bin");
    }
    std::filesystem::current_path(was);
    EXPECT_TRUE(said);
}

TEST_F(SpiRomOpsTest, ReadBackBlankCheckAndDump) {
    Context ctx = open_flash("M25P20");
    ASSERT_TRUE(ctx);
    EXPECT_EQ(spirom_blank_check(ctx.get()), 1);
    EXPECT_TRUE(logged("ROMはブランクです"));
    rom()[300 * 256 + 5] = 0;
    g_lines.clear();
    EXPECT_EQ(spirom_blank_check(ctx.get()), 15);
    EXPECT_TRUE(logged("page 300 に書き込みデータあり"));
    EXPECT_TRUE(logged("ROMはブランクではありません"));

    const auto pattern = data(rom().size(), 9);
    std::copy(pattern.begin(), pattern.end(), rom().begin());
    // An existing file stays unless the host says yes.
    const std::string path = write_file("back.bin", text("keep"));
    g_lines.clear();
    EXPECT_EQ(spirom_read_back(ctx.get(), path.c_str(), 0x400), 0);
    EXPECT_TRUE(logged("ファイル" + path + "はすでに存在します。上書きしますか？ (y/n)\n"));
    EXPECT_TRUE(logged("読み出しを中止します\n"));
    EXPECT_EQ(read_file(path), text("keep"));
    g_confirm = true;
    EXPECT_EQ(spirom_read_back(ctx.get(), path.c_str(), 0x400), 1);
    EXPECT_EQ(read_file(path), std::vector<uint8_t>(pattern.begin() + 0x400, pattern.end()));

    const std::string hex = (folder_ / "back.hex").string();
    EXPECT_EQ(spirom_read_back(ctx.get(), hex.c_str(), 0x3FF00), 1);
    EXPECT_TRUE(read_file(hex).size() > 256 * 2);
    EXPECT_EQ(spirom_read_back(ctx.get(), (folder_ / "no/dir.bin").c_str(), 0), 12);
    const std::string cancelled = (folder_ / "cancelled.bin").string();
    g_running_for = 0;
    EXPECT_EQ(spirom_read_back(ctx.get(), cancelled.c_str(), 0), 24);
    EXPECT_FALSE(std::filesystem::exists(cancelled));
    // A cancelled read over an existing file leaves it whole, and no temporary file beside it.
    const std::vector<uint8_t> kept = read_file(path);
    EXPECT_EQ(spirom_read_back(ctx.get(), path.c_str(), 0), 24);
    EXPECT_EQ(read_file(path), kept);
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    g_running_for = -1;
    g_lines.clear();
    EXPECT_EQ(spirom_read_back(ctx.get(), path.c_str(), 0x40000), 16);
    EXPECT_TRUE(logged("オフセット 0x40000 はROMの範囲外です"));

    g_lines.clear();
    EXPECT_EQ(spirom_dump(ctx.get(), 0x1234), 1);
    ASSERT_EQ(g_lines.size(), 17u);
    EXPECT_EQ(g_lines[0], "Data arrayを読み出して先頭をダンプします\n");
    char first[16];
    std::snprintf(first, sizeof first, "00001234  %02X ", pattern[0x1234]);
    EXPECT_TRUE(g_lines[1].starts_with(first)) << g_lines[1];
}

TEST_F(SpiRomOpsTest, SstWordProgramAcrossBlocks) {
    Context ctx = open_flash("SST25VF032B");
    ASSERT_TRUE(ctx);
    std::fill_n(rom().begin(), 1024, 0x5A);              // pages 0 and 1
    std::fill_n(rom().begin() + 130 * 512, 1024, 0x5A);  // pages 130 and 131
    const auto file = data(1200, 7);                     // pages 127..129
    const std::string path = write_file("a.bin", file);
    EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 127 * 512), 1);
    EXPECT_TRUE(logged("ブロック 000000-00ffffを消去します"));
    EXPECT_TRUE(logged("ブロック 010000-01ffffを消去します"));
    EXPECT_TRUE(holds(rom(), 127 * 512, file));
    EXPECT_TRUE(all_of(rom(), 0, 1024, 0x5A));
    EXPECT_TRUE(all_of(rom(), 127 * 512 + 1200, 130 * 512, 0xFF));
    EXPECT_TRUE(all_of(rom(), 130 * 512, 132 * 512, 0x5A));
    EXPECT_EQ(spirom_verify(ctx.get(), path.c_str(), 127 * 512), 1);
}

// With a cable that keeps captures on their way, SST words go at the pace learnt from the chip.
// A word slower than the ones the pace was learnt from is caught by its status frame: the block
// is erased and written again at the data sheet's pace, and nothing of the file is lost.
TEST_F(SpiRomOpsTest, SstWordsAtTheChipsPaceAndTheBlockAgainWhereOneOutranIt) {
    const auto file = data(65536 + 1000, 9);
    const std::string path = write_file("a.bin", file);
    for (const uint32_t slow_one_in : {300u, 0u}) {
        SCOPED_TRACE(slow_one_in);
        static std::vector<std::unique_ptr<sim::FlashPart>> parts;
        auto& part = *parts.emplace_back(
            std::make_unique<sim::FlashPart>(*sim::find_flash_part("SST25VF032B")));
        part.slow_one_in = slow_one_in;
        part.slow_ns = 10'000;
        Context ctx = open_flash(sim::make_spi_flash(part));
        ASSERT_TRUE(ctx);
        cable().defers = true;
        std::fill_n(rom().begin() + 0x20000, 16, 0x00);  // outside the file: kept
        EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0), 1);
        EXPECT_TRUE(holds(rom(), 0, file));
        EXPECT_TRUE(all_of(rom(), 65536 + 1000, 0x20000, 0xFF));
        EXPECT_TRUE(all_of(rom(), 0x20000, 0x20010, 0x00));
        EXPECT_EQ(spirom_verify(ctx.get(), path.c_str(), 0), 1);
        const bool redone = std::ranges::any_of(
            g_lines, [](const std::string& line) { return line.starts_with("Block 000000: "); });
        EXPECT_EQ(redone, slow_one_in != 0);
    }
}

TEST_F(SpiRomOpsTest, DataFlashPagesInBothPageSizes) {
    const sim::FlashPart& part = *sim::find_flash_part("AT45DB161D");
    const auto file = data(1200, 11);
    const std::string path = write_file("a.bin", file);
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "512-byte pages" : "528-byte pages");
        Context ctx = open_flash(sim::make_spi_flash(part, binary));
        ASSERT_TRUE(ctx);
        const int size = binary ? 512 : 528, shift = binary ? 9 : 10;
        ASSERT_EQ(ctx->page_size, size);
        // The model keeps pages of 528 bytes; the binary size uses their start.
        std::fill_n(rom().begin() + 4 * 528, 2 * 528, 0x5A);
        EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 2u << shift), 1);
        for (int p = 0; p < 3; ++p) {
            const size_t n = std::min<size_t>(size, 1200 - p * size);
            EXPECT_TRUE(holds(rom(), (2 + p) * 528, file, p * size, n)) << "page " << 2 + p;
        }
        // The end of the last page is kept.
        const size_t tail = 1200 - 2 * size;
        EXPECT_TRUE(all_of(rom(), 4 * 528 + tail, 4 * 528 + size, 0x5A));
        EXPECT_TRUE(all_of(rom(), 5 * 528, 5 * 528 + size, 0x5A));
        EXPECT_EQ(spirom_verify(ctx.get(), path.c_str(), 2u << shift), 1);
        // The last page's address lies beyond page count × page size in the 528-byte mode.
        EXPECT_EQ(spirom_dump(ctx.get(), 4095u << shift), 1);
    }
}

TEST_F(SpiRomOpsTest, ProtectedAndLargeSectors) {
    // AT25DQ321: every sector protected at power-up; unprotected before its erase.
    const auto file = data(600, 13);
    const std::string path = write_file("a.bin", file);
    Context ctx = open_flash("AT25DQ321");
    ASSERT_TRUE(ctx);
    std::fill_n(rom().begin() + 0x10000, 0x1000, 0x00);
    EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0x10000), 1);
    EXPECT_TRUE(holds(rom(), 0x10000, file));
    EXPECT_TRUE(all_of(rom(), 0x10000 + 600, 0x11000, 0x00)) << "kept outside the image";
    EXPECT_EQ(spirom_verify(ctx.get(), path.c_str(), 0x10000), 1);

    // M25P128: 256 KB sectors, named by page >> 8.
    ctx = open_flash("M25P128");
    std::fill_n(rom().begin(), 256, 0x5A);
    std::fill_n(rom().begin() + 0x40100, 256, 0x5A);
    const auto two = data(512, 17);
    const std::string two_pages = write_file("b.bin", two);
    EXPECT_EQ(spirom_program(ctx.get(), two_pages.c_str(), 0x3FF00), 1);
    EXPECT_TRUE(logged("Erasing sector 0"));
    EXPECT_TRUE(logged("Erasing sector 4"));
    EXPECT_TRUE(holds(rom(), 0x3FF00, two));
    EXPECT_TRUE(all_of(rom(), 0, 256, 0x5A));
    EXPECT_TRUE(all_of(rom(), 0x40100, 0x40200, 0x5A));
}

TEST_F(SpiRomOpsTest, UpperSixteenMegabytesOfThe256MbitParts) {
    const auto file = data(512, 19);
    const std::string path = write_file("a.bin", file);
    for (const char* part : {"W25Q256FV", "W25Q256JV", "N25Q256"}) {
        SCOPED_TRACE(part);
        Context ctx = open_flash(part);
        ASSERT_TRUE(ctx);
        std::fill_n(rom().begin(), 256, 0x5A);
        std::fill_n(rom().end() - 256, 256, 0x77);
        EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0xFFFF00), 1);
        EXPECT_TRUE(holds(rom(), 0xFFFF00, file));
        EXPECT_TRUE(all_of(rom(), 0, 256, 0x5A)) << "nothing wraps onto the first 16 MB";
        EXPECT_EQ(spirom_verify(ctx.get(), path.c_str(), 0xFFFF00), 1);
        // Programmed again with other data: the sector above 16 MB is erased first.
        const auto other = data(512, 20);
        const std::string again = write_file("b.bin", other);
        EXPECT_EQ(spirom_program(ctx.get(), again.c_str(), 0xFFFF00), 1);
        EXPECT_EQ(spirom_verify(ctx.get(), again.c_str(), 0xFFFF00), 1);
        EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0xFFFF00), 1);
        g_lines.clear();
        EXPECT_EQ(spirom_dump(ctx.get(), 0x1000000), 1);
        char first[16];
        std::snprintf(first, sizeof first, "01000000  %02X ", file[256]);
        ASSERT_GT(g_lines.size(), 1u);
        EXPECT_TRUE(g_lines[1].starts_with(first)) << g_lines[1];
        const std::string back = (folder_ / "top.bin").string();
        EXPECT_EQ(spirom_read_back(ctx.get(), back.c_str(), 0x1FFFF00), 1);
        EXPECT_EQ(read_file(back), std::vector<uint8_t>(256, 0x77));
        std::filesystem::remove(back);
        // Afterwards the 3-byte commands reach the first 16 MB again.
        EXPECT_EQ(spirom_program(ctx.get(), path.c_str(), 0x20000), 1);
        EXPECT_TRUE(holds(rom(), 0x20000, file));
    }
}

}  // namespace
}  // namespace vireo::test
