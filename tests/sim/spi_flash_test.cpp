#include <gtest/gtest.h>

#include <algorithm>

#include "sim/bits.h"
#include "sim/board_presets.h"
#include "sim/dataflash.h"
#include "sim/jedec_flash.h"
#include "sim/spi_bridge.h"

namespace vireo::sim {
namespace {

constexpr uint64_t kUs = 1000, kMs = 1000 * kUs;

// One transaction: sends `send`, then `read` bytes of zero; returns what came back for those.
std::vector<uint8_t> xfer(SpiFlash& f, std::vector<uint8_t> send, size_t read = 0) {
    f.select();
    std::vector<uint8_t> got;
    const size_t w = send.size();
    send.resize(w + read, 0);
    for (size_t i = 0; i < send.size(); ++i) {
        const uint8_t out = f.output();
        f.input(send[i]);
        if (i >= w) got.push_back(out);
    }
    f.deselect(true);
    return got;
}

class Flash {
  public:
    explicit Flash(const char* name)
        : part_(*find_flash_part(name)), flash_(make_spi_flash(part_)) {}
    std::vector<uint8_t> operator()(std::vector<uint8_t> send, size_t read = 0) {
        return xfer(*flash_, std::move(send), read);
    }
    uint8_t status() { return (*this)({0x05}, 1)[0]; }
    void wait(uint64_t ns) { flash_->advance(now_ += ns); }
    // Waits out the part's busy time and returns the time it took, in ns.
    uint64_t until_ready() {
        uint64_t waited = 0;
        for (; flash_->busy() && waited < 1000ull * 1000 * kMs; waited += kUs) wait(kUs);
        return waited;
    }
    std::vector<uint8_t>& array() { return flash_->array(); }
    SpiFlash& flash() { return *flash_; }

  private:
    const FlashPart& part_;
    std::unique_ptr<SpiFlash> flash_;
    uint64_t now_ = 0;
};

std::vector<uint8_t> page_program(uint8_t op, uint32_t address, std::vector<uint8_t> data,
                                  int address_bytes = 3) {
    std::vector<uint8_t> cmd(1 + static_cast<size_t>(address_bytes) + data.size(), op);
    for (int i = 0; i < address_bytes; ++i)
        cmd[static_cast<size_t>(address_bytes - i)] = static_cast<uint8_t>(address >> (8 * i));
    std::copy(data.begin(), data.end(), cmd.begin() + 1 + address_bytes);
    return cmd;
}

TEST(SpiFlash, ProgramOnlyClearsBitsAndNeedsWriteEnable) {
    Flash f("W25Q64BV");
    f(page_program(0x02, 0x100, {0x00}));
    EXPECT_EQ(f.array()[0x100], 0xFF) << "no WREN, no program";

    f({0x06});
    f(page_program(0x02, 0x100, {0xF0, 0x3C}));
    f.until_ready();
    f({0x06});
    f(page_program(0x02, 0x100, {0x0F, 0xFF}));
    f.until_ready();
    EXPECT_EQ(f({0x03, 0x00, 0x01, 0x00}, 2), (std::vector<uint8_t>{0x00, 0x3C})) << "old AND new";

    // Chip select rising inside a byte drops the command; WEL stays set.
    f({0x06});
    f.flash().select();
    for (uint8_t b : {0x02, 0x00, 0x02, 0x00, 0x00}) f.flash().output(), f.flash().input(b);
    f.flash().deselect(false);
    EXPECT_EQ(f.array()[0x200], 0xFF);
    EXPECT_EQ(f.status(), 0x02);
}

TEST(SpiFlash, PageProgramWrapsInsideItsPageAndKeepsTheLast256) {
    Flash f("N25Q128");
    f({0x06});
    f(page_program(0x02, 0x1FE, {1, 2, 3, 4}));
    f.until_ready();
    EXPECT_EQ(f.array()[0x1FE], 1);
    EXPECT_EQ(f.array()[0x1FF], 2);
    EXPECT_EQ(f.array()[0x100], 3) << "wrapped to the start of the same page";
    EXPECT_EQ(f.array()[0x200], 0xFF) << "the next page is untouched";

    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    f({0x06});
    f(page_program(0x02, 0x1000, data));
    f.until_ready();
    EXPECT_EQ(f.array()[0x1000], 0) << "byte 256 landed on byte 0: 0x00 AND 0x00";
    EXPECT_EQ(f.array()[0x1000 + 43], static_cast<uint8_t>(43 & 299));
    EXPECT_EQ(f.array()[0x1000 + 44], 44);
}

TEST(SpiFlash, BusyPartIgnoresAllButTheStatusReadForItsTypicalTime) {
    Flash f("W25Q64BV");
    f({0x06});
    f(page_program(0x02, 0, {0x12}));
    EXPECT_EQ(f.status(), 0x03) << "busy with WEL";
    EXPECT_EQ(f({0x9F}, 3), (std::vector<uint8_t>(3, 0xFF)));
    EXPECT_EQ(f({0x03, 0, 0, 0}, 1)[0], 0xFF);
    f({0x06});
    f({0xC7});  // chip erase while busy: ignored
    f.wait(699 * kUs);
    EXPECT_EQ(f.status() & 1, 1);
    f.wait(1 * kUs);
    EXPECT_EQ(f.status(), 0x00) << "ready at 0.7 ms, WEL cleared by the end of the cycle";
    EXPECT_EQ(f.array()[0], 0x12) << "the chip erase sent while busy never happened";
    EXPECT_EQ(f({0x9F}, 4), (std::vector<uint8_t>{0xEF, 0x40, 0x17, 0x00}));
    EXPECT_EQ(f({0xAB, 0, 0, 0}, 2), (std::vector<uint8_t>{0xFF, 0xFF})) << "unknown opcode";
}

// Each family's status read keeps shifting the status out while chip select stays low, the
// busy bit following the cycle: one transaction sees a program cycle end.
TEST(SpiFlash, StatusReadsKeepShowingTheStatusAsTheCycleEnds) {
    const struct {
        const char* part;
        std::vector<uint8_t> start;  // a program cycle, after write enable where it needs one
        uint8_t read, ready_mask, ready_value;
    } families[] = {
        {"W25Q64BV", page_program(0x02, 0, {0x12}), 0x05, 0x01, 0x00},
        {"N25Q128", page_program(0x02, 0, {0x12}), 0x05, 0x01, 0x00},
        {"N25Q128", page_program(0x02, 0, {0x12}), 0x70, 0x80, 0x80},  // flag status
        {"M25P128", page_program(0x02, 0, {0x12}), 0x05, 0x01, 0x00},
        {"AT45DB161D", page_program(0x82, 0, {0x12}), 0xD7, 0x80, 0x80},
    };
    for (const auto& family : families) {
        SCOPED_TRACE(std::string(family.part) + " opcode " + std::to_string(family.read));
        Flash f(family.part);
        if (family.read != 0xD7) f({0x06});
        f(family.start);
        f.flash().select();
        f.flash().output();
        f.flash().input(family.read);
        std::vector<bool> ready;
        for (int i = 0; i < 1000; ++i) {  // 1,000 bytes, 50 us apart: 50 ms
            ready.push_back((f.flash().output() & family.ready_mask) == family.ready_value);
            f.flash().input(0);
            f.wait(50 * kUs);
        }
        f.flash().deselect(true);
        const auto first = std::find(ready.begin(), ready.end(), true);
        EXPECT_GT(first - ready.begin(), 0) << "busy when the read began";
        EXPECT_NE(first, ready.end()) << "the end of the cycle shows within the read";
        EXPECT_TRUE(std::all_of(first, ready.end(), [](bool r) { return r; }));
        EXPECT_EQ(f.array()[0], 0x12);
    }
}

TEST(SpiFlash, EraseUnitsAndOpcodesFollowTheFamily) {
    Flash m("M25P128");
    m.array().assign(m.array().size(), 0x00);
    m({0x06});
    m({0x20, 0x00, 0x10, 0x00});
    EXPECT_EQ(m.status(), 0x02) << "no 4 KB erase on the M25P";
    m({0x60});
    EXPECT_EQ(m.status(), 0x02) << "0x60 is not a chip erase on the M25P";
    m({0xD8, 0x05, 0x00, 0x00});
    EXPECT_EQ(m.until_ready(), 1600 * kMs);
    EXPECT_EQ(m.array()[0x03FFFF], 0x00);
    EXPECT_EQ(m.array()[0x040000], 0xFF) << "256 KB sector around 0x050000";
    EXPECT_EQ(m.array()[0x07FFFF], 0xFF);
    EXPECT_EQ(m.array()[0x080000], 0x00);

    Flash w("W25Q128JV");
    w.array().assign(w.array().size(), 0x00);
    w({0x06});
    w({0x20, 0x00, 0x1F, 0xFF});
    EXPECT_EQ(w.until_ready(), 45 * kMs);
    EXPECT_EQ(w.array()[0x0FFF], 0x00);
    EXPECT_EQ(w.array()[0x1000], 0xFF);
    EXPECT_EQ(w.array()[0x1FFF], 0xFF);
    EXPECT_EQ(w.array()[0x2000], 0x00);
    w({0x06});
    w({0x60});
    EXPECT_EQ(w.until_ready(), 40'000 * kMs);
    EXPECT_EQ(std::count(w.array().begin(), w.array().end(), 0xFF), 16 * 1024 * 1024);
}

TEST(SpiFlash, SstComesUpProtectedAndProgramsWordsInAai) {
    Flash f("SST25VF032B");
    EXPECT_EQ(f.status(), 0x1C);
    f({0x06});
    f({0xAD, 0x00, 0x00, 0x10, 0x12, 0x34});
    EXPECT_EQ(f.status(), 0x1C) << "refused: WEL dropped, no busy cycle, no AAI";
    EXPECT_EQ(f.array()[0x10], 0xFF);

    f({0x50});
    f({0x01, 0x00});
    EXPECT_EQ(f.status(), 0x00);
    f({0x06});
    f({0xAD, 0x00, 0x00, 0x11, 0x12, 0x34});  // odd address: the word starts at 0x10
    EXPECT_EQ(f.status(), 0x43) << "AAI, WEL, busy";
    EXPECT_EQ(f.until_ready(), 7 * kUs);
    f({0x9F}, 3);
    f({0xAD, 0x56, 0x78});
    f.until_ready();
    EXPECT_EQ(f.status(), 0x42) << "WEL stays for the whole sequence";
    f({0x04});
    EXPECT_EQ(f.status(), 0x00);
    EXPECT_EQ(f({0x0B, 0, 0, 0x10, 0}, 5), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0xFF}));

    f({0x06});
    f(page_program(0x02, 0x20, {0xA5, 0x00}));
    f.until_ready();
    EXPECT_EQ(f({0x03, 0, 0, 0x20}, 2), (std::vector<uint8_t>{0xA5, 0xFF})) << "byte program";
}

TEST(SpiFlash, At25dqSectorsStayProtectedUntilUnprotected) {
    Flash f("AT25DQ321");
    EXPECT_EQ(f.status(), 0x1C) << "all sectors protected, WP# high";
    EXPECT_EQ(f({0x3C, 0x01, 0x00, 0x00}, 1)[0], 0xFF);
    f({0x06});
    f({0xD8, 0x01, 0x00, 0x00});
    EXPECT_EQ(f.status(), 0x1C) << "erase refused without a busy cycle, WEL cleared";
    f({0x06});
    f(page_program(0x02, 0x010000, {0x00}));
    EXPECT_EQ(f.array()[0x010000], 0xFF);

    f({0x39, 0x01, 0x00, 0x00});
    EXPECT_EQ(f({0x3C, 0x01, 0x00, 0x00}, 1)[0], 0xFF) << "unprotect needs WREN";
    f({0x06});
    f({0x39, 0x01, 0x80, 0x00});
    EXPECT_EQ(f({0x3C, 0x01, 0x00, 0x00}, 1)[0], 0x00);
    EXPECT_EQ(f.status(), 0x14) << "some sectors protected";
    f({0x06});
    f(page_program(0x02, 0x010000, {0x00}));
    f.until_ready();
    EXPECT_EQ(f.array()[0x010000], 0x00);

    f({0x06});
    f({0x01, 0x00});
    EXPECT_EQ(f.status(), 0x10) << "global unprotect";
    f({0x06});
    f({0xC7});
    EXPECT_EQ(f.until_ready(), 36'000 * kMs);
    EXPECT_EQ(f.array()[0x010000], 0xFF);
}

TEST(SpiFlash, ThreeByteAddressesWrapAt16MegabytesOnThe256MbitParts) {
    Flash f("W25Q256JV");
    f({0x06});
    f(page_program(0x02, 0x000100, {0x11}));
    f.until_ready();
    f({0x06});
    f(page_program(0x12, 0x01000100, {0x22}, 4));
    f.until_ready();
    EXPECT_EQ(f.array()[0x000100], 0x11);
    EXPECT_EQ(f.array()[0x1000100], 0x22);
    EXPECT_EQ(f({0x03, 0x00, 0x01, 0x00}, 1)[0], 0x11);
    EXPECT_EQ(f({0x13, 0x01, 0x00, 0x01, 0x00}, 1)[0], 0x22);
    EXPECT_EQ(f({0x15}, 1)[0], 0x00);
    f({0xB7});
    EXPECT_EQ(f({0x15}, 1)[0], 0x01);
    EXPECT_EQ(f({0x0B, 0x01, 0x00, 0x01, 0x00, 0x00}, 1)[0], 0x22) << "4-byte mode";
    f({0xE9});
    EXPECT_EQ(f({0x03, 0x00, 0x01, 0x00}, 1)[0], 0x11);

    // The N25Q256 enters 4-byte mode only after WREN.
    Flash n("N25Q256");
    n({0xB7});
    EXPECT_EQ(n({0x70}, 1)[0], 0x80);
    n({0x06});
    n({0xB7});
    EXPECT_EQ(n({0x70}, 1)[0], 0x81);

    // Leaving 4-byte mode on the W25Q256FV points 3-byte commands at the upper half.
    Flash fv("W25Q256FV");
    fv.array()[0x1000000] = 0x5A;
    fv({0xB7});
    fv({0xE9});
    EXPECT_EQ(fv({0x03, 0, 0, 0}, 1)[0], 0x5A);
    EXPECT_EQ(fv({0x12, 0x01, 0x00, 0x00, 0x00, 0x00}, 0).size(), 0u);
}

TEST(DataFlash, PageProgramThroughTheBufferInBothPageSizes) {
    const FlashPart& part = *find_flash_part("AT45DB161D");
    DataFlash f(part);
    EXPECT_EQ(xfer(f, {0xD7}, 1)[0], 0xAC);
    EXPECT_EQ(xfer(f, {0x9F}, 5), (std::vector<uint8_t>{0x1F, 0x26, 0x00, 0x00, 0x00}));

    // Page 3 in 528-byte mode sits at 3 << 10; the buffer replaces the whole page.
    f.array()[3 * 528 + 527] = 0x00;
    std::vector<uint8_t> cmd = {0x82, 0x00, 0x0C, 0x00};
    for (int i = 0; i < 528; ++i) cmd.push_back(static_cast<uint8_t>(i));
    xfer(f, cmd);
    EXPECT_EQ(xfer(f, {0xD7}, 1)[0], 0x2C) << "busy: bit 7 low";
    EXPECT_EQ(xfer(f, {0x9F}, 1)[0], 0xFF) << "ignored while busy";
    f.advance(17 * kMs);
    EXPECT_EQ(xfer(f, {0xD7}, 1)[0], 0xAC);
    EXPECT_EQ(f.array()[3 * 528 + 527], static_cast<uint8_t>(527));
    EXPECT_EQ(xfer(f, {0x0B, 0x00, 0x0E, 0x0E, 0x00}, 3), (std::vector<uint8_t>{0x0E, 0x0F, 0xFF}))
        << "continuous read into page 4";

    // The power-of-two size is stored, and used from the next power-up on.
    xfer(f, {0x3D, 0x2A, 0x80, 0xA6});
    EXPECT_TRUE(f.power_of_two_stored());
    EXPECT_EQ(xfer(f, {0xD7}, 1)[0], 0xAC);
    DataFlash binary(part, true);
    EXPECT_EQ(xfer(binary, {0xD7}, 1)[0], 0xAD);
    std::vector<uint8_t> page = {0x82, 0x00, 0x06, 0x00};  // linear 0x600: page 3, byte 0
    page.resize(4 + 512, 0x42);
    xfer(binary, page);
    binary.advance(17 * kMs);
    EXPECT_EQ(binary.array()[3 * 528], 0x42);
    EXPECT_EQ(xfer(binary, {0x03, 0x00, 0x07, 0xFF}, 2), (std::vector<uint8_t>{0x42, 0xFF}));

    xfer(binary, {0xC7, 0x94, 0x80, 0x9A});
    binary.advance(17 * kMs + 25'000 * kMs);
    EXPECT_EQ(binary.array()[3 * 528], 0xFF);
}

}  // namespace
}  // namespace vireo::sim

namespace vireo::sim {
namespace {

// Records what the bridge makes of USER1 scans; answers 0xA0 + the byte index.
class Recorder final : public SpiFlash {
  public:
    void select() override { bytes.clear(), ++selects; }
    uint8_t output() override { return static_cast<uint8_t>(0xA0 + bytes.size()); }
    void input(uint8_t b) override { bytes.push_back(b); }
    void deselect(bool whole) override { ends.push_back(whole); }
    void advance(uint64_t) override {}
    std::vector<uint8_t>& array() override { return bytes; }
    bool busy() const override { return false; }
    uint64_t changes() const override { return 0; }

    std::vector<uint8_t> bytes;
    std::vector<bool> ends;  // whole_bytes of each deselect
    int selects = 0;
};

TEST(SpiBridge, ScansThatDoNotMatchTheHeaderAreCutAsTheLogicCutsThem) {
    auto flash = std::make_shared<Recorder>();
    SpiBridge bridge(flash);
    const auto header = [&bridge](uint32_t skip, uint32_t end) {
        bridge.capture(2);
        std::vector<uint8_t> tdi(16, 0), tdo(16, 0);
        for (int i = 0; i < 32; ++i) put_bit(tdi.data(), 8 + i, (skip >> i) & 1);
        for (int i = 0; i < 32; ++i) put_bit(tdi.data(), 40 + i, (end >> i) & 1);
        bridge.shift(2, tdi.data(), tdo.data(), 128);
        bridge.update(2);
        return std::string(reinterpret_cast<const char*>(tdo.data()), 15);
    };
    const auto scan = [&bridge](std::vector<uint8_t> tdi, size_t nbits) {
        std::vector<uint8_t> tdo(tdi.size(), 0);
        bridge.capture(1);
        bridge.shift(1, tdi.data(), tdo.data(), nbits);
        bridge.update(1);
        return tdo;
    };
    EXPECT_EQ(header(2, 2 + 16), "NORVALE JSPI1.0");

    // Short scan: chip select rises at Update-DR inside the second byte.
    scan({0x00, 0x00, 0x00}, 2 + 12);
    EXPECT_EQ(flash->ends, std::vector<bool>{false});
    EXPECT_EQ(flash->bytes.size(), 1u);

    // Long scan: the bits past the end never reach the flash; MISO shows one clock late.
    std::vector<uint8_t> tdi(5, 0);
    for (int i = 0; i < 8; ++i) put_bit(tdi.data(), 2 + i, (0x9F >> (7 - i)) & 1);
    const std::vector<uint8_t> tdo = scan(tdi, 40);
    EXPECT_EQ(flash->bytes, (std::vector<uint8_t>{0x9F, 0x00}));
    EXPECT_EQ(flash->ends.back(), true);
    uint8_t second = 0;
    for (int i = 0; i < 8; ++i)
        second = static_cast<uint8_t>(second << 1 | get_bit(tdo.data(), 2 + 8 + 1 + i));
    EXPECT_EQ(second, 0xA1);
    EXPECT_EQ(flash->selects, 2);
}

TEST(SpiFlash, EveryPresetCarriesAPartOfTheTable) {
    for (const BoardPreset& p : board_presets()) {
        if (!p.flash.empty()) {
            EXPECT_NE(find_flash_part(p.flash), nullptr) << p.name;
        }
    }
    for (const FlashPart& part : flash_parts()) {
        const auto flash = make_spi_flash(part);
        EXPECT_EQ(xfer(*flash, {0x9F}, 3),
                  std::vector<uint8_t>(part.id.begin(), part.id.begin() + 3))
            << part.name;
        EXPECT_EQ(flash->array().size(), part.size) << part.name;
    }
}

}  // namespace
}  // namespace vireo::sim
