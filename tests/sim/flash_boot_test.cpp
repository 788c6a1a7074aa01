#include <gtest/gtest.h>

#include <algorithm>

#include "fpga_helpers.h"
#include "sim/bitgen.h"
#include "sim/bits.h"
#include "sim/spi_flash.h"
#include "sim/xilinx_fpga.h"
#include "sim_scan.h"

namespace vireo::sim {
namespace {

constexpr uint64_t kInit = 1 << 4, kDone = 1 << 5;
constexpr uint64_t kByteNs = 8'000'000'000ull / XilinxFpga::kBootCclkHz;

// One FPGA with a W25Q64BV on its configuration pins, mode pins at master SPI.
class FlashBoot : public ::testing::Test {
  protected:
    void board(const char* part_name) {
        part_ = find_xilinx_part(part_name);
        chain_ = std::make_unique<TapChain>(30'000'000);
        auto fpga = std::make_unique<XilinxFpga>(*part_);
        fpga_ = fpga.get();
        std::shared_ptr<SpiFlash> flash = make_spi_flash(*find_flash_part("W25Q64BV"));
        flash_ = flash.get();
        fpga_->set_flash(std::move(flash));
        chain_->add(std::move(fpga));
        chain_->go_to(TapState::RunTestIdle);
    }
    // Writes an image into the flash as a programmer would have left it; returns its size.
    size_t store(const BitgenOptions& options = {}) {
        const std::vector<uint8_t> image = make_config_image(*part_, options);
        std::copy(image.begin(), image.end(), flash_->array().begin());
        return image.size();
    }
    uint64_t instruction(XilinxInstr instr) {
        return test::ir_scan(*chain_, instruction_code(part_->family, instr), 6);
    }
    uint64_t status() { return instruction(XilinxInstr::Bypass); }
    void wait(uint64_t ns) { chain_->wait_ns(ns); }

  public:
    TapChain* chain() { return chain_.get(); }
    const XilinxPart* part() const { return part_; }

  protected:
    const XilinxPart* part_ = nullptr;
    std::unique_ptr<TapChain> chain_;
    XilinxFpga* fpga_ = nullptr;
    SpiFlash* flash_ = nullptr;
};

TEST_F(FlashBoot, OnlyAValidImageOfThisPartRaisesDone) {
    board("XC6SLX9");
    instruction(XilinxInstr::Jprogram);
    wait(2'000'000'000);
    EXPECT_EQ(status() & (kInit | kDone), kInit) << "blank flash: INIT high, DONE low";
    EXPECT_TRUE(fpga_->booting()) << "still reading the blank flash";

    BitgenOptions wrong;
    wrong.wrong_idcode = true;
    const size_t bytes = store(wrong);
    instruction(XilinxInstr::Jprogram);
    wait(part_->clear_ns + (bytes + 100) * kByteNs);
    EXPECT_EQ(status() & (kInit | kDone), 0u) << "ID error: INIT low";
    EXPECT_FALSE(fpga_->booting());

    BitgenOptions bad_crc;
    bad_crc.bad_crc = true;
    store(bad_crc);
    instruction(XilinxInstr::Jprogram);
    wait(part_->clear_ns + (bytes + 100) * kByteNs);
    EXPECT_EQ(status() & (kInit | kDone), 0u) << "CRC error";
}

// One SPI transaction through the bridge: the header for its length on USER2, then the bytes
// on USER1, most significant bit first; returns the bytes MISO gave (one TCK late on TDO).
std::vector<uint8_t> bridge_frame(FlashBoot& t, const std::vector<uint8_t>& bytes) {
    const size_t bits = 8 * bytes.size();
    std::vector<uint8_t> header(16, 0);
    for (size_t i = 0; i < 32; ++i) put_bit(header.data(), 40 + i, (bits >> i) & 1);
    test::ir_scan(*t.chain(), instruction_code(t.part()->family, XilinxInstr::User2), 6);
    test::scan(*t.chain(), TapState::ShiftDr, header, 128);
    test::ir_scan(*t.chain(), instruction_code(t.part()->family, XilinxInstr::User1), 6);
    std::vector<uint8_t> tdi((bits + 8) / 8, 0);
    for (size_t i = 0; i < bits; ++i) put_bit(tdi.data(), i, (bytes[i / 8] >> (7 - i % 8)) & 1);
    const std::vector<uint8_t> tdo = test::scan(*t.chain(), TapState::ShiftDr, tdi, bits + 1);
    std::vector<uint8_t> miso(bytes.size(), 0);
    for (size_t i = 0; i < bits; ++i)
        miso[i / 8] |= static_cast<uint8_t>(get_bit(tdo.data(), i + 1) << (7 - i % 8));
    return miso;
}

TEST_F(FlashBoot, JprogramLoadsTheBridgeWhoseStatusFrameSeesAProgramCycleEnd) {
    board("XC7S25");
    BitgenOptions options;
    options.spi_bridge = true;
    const size_t bytes = store(options);
    instruction(XilinxInstr::Jprogram);
    const uint64_t read_ns = part_->clear_ns + (5 + bytes) * kByteNs;
    wait(read_ns * 9 / 10);
    EXPECT_EQ(status() & kDone, 0u) << "the frames are still coming";
    wait(read_ns / 10);
    EXPECT_EQ(status() & kDone, kDone);
    EXPECT_FALSE(fpga_->booting());
    EXPECT_TRUE(fpga_->engine().design().spi_bridge);

    // The bridge design came from the flash: USER2 answers with the descriptor.
    instruction(XilinxInstr::User2);
    const std::vector<uint8_t> descriptor =
        test::scan(*chain_, TapState::ShiftDr, std::vector<uint8_t>(17, 0), 128);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(descriptor.data()), 15), "NORVALE JSPI1.0");

    // One Read Status frame keeps sampling the busy bit while the flash programs a page.
    bridge_frame(*this, {0x06});
    std::vector<uint8_t> program = {0x02, 0x7F, 0x00, 0x00};
    program.resize(4 + 256, 0x5A);
    bridge_frame(*this, program);
    // The W25Q64BV's typical page program is 700 us: 2,625 bytes of TCKs at 30 MHz. A status
    // frame of 4,000 bytes shows it busy, then ready from about there on, never busy again.
    std::vector<uint8_t> poll(4000, 0);
    poll[0] = 0x05;
    const std::vector<uint8_t> samples = bridge_frame(*this, poll);
    const auto ready =
        std::find_if(samples.begin() + 1, samples.end(), [](uint8_t s) { return (s & 1) == 0; });
    ASSERT_NE(ready, samples.end()) << "the cycle ended within the frame";
    EXPECT_EQ(samples[1] & 1, 1) << "busy at the start";
    EXPECT_NEAR(ready - samples.begin(), 2625, 40);
    EXPECT_TRUE(std::all_of(ready, samples.end(), [](uint8_t s) { return (s & 1) == 0; }));
    EXPECT_EQ(flash_->array()[0x7F0000], 0x5A);
}

TEST_F(FlashBoot, JtagConfigurationTakesOverAndPowerUpBoots) {
    board("XC6SLX9");
    const size_t bytes = store();
    instruction(XilinxInstr::Jprogram);
    instruction(XilinxInstr::CfgIn);  // a JTAG programmer waiting for INIT
    wait(part_->clear_ns + (bytes + 100) * kByteNs);
    EXPECT_EQ(status() & (kInit | kDone), kInit) << "the flash was not read";

    fpga_->power_up();
    wait((bytes + 100) * kByteNs);
    EXPECT_EQ(status() & kDone, kDone);
}

TEST_F(FlashBoot, JtagTakesOverInTheMiddleOfAFlashBoot) {
    for (const char* name : {"XC6SLX9", "XC7A35T"}) {
        SCOPED_TRACE(name);
        board(name);
        const size_t bytes = store();
        const std::vector<uint8_t> jtag_image = make_config_image(*part_, {});
        instruction(XilinxInstr::Jprogram);
        wait(part_->clear_ns + bytes / 3 * kByteNs);  // a third of the flash image read
        instruction(XilinxInstr::CfgIn);
        test::FpgaDriver(*chain_, 0).shift_image(jtag_image);
        wait(1'000'000);
        EXPECT_EQ(status() & (kInit | kDone), kInit | kDone) << "the JTAG image configured";
    }
}

}  // namespace
}  // namespace vireo::sim
