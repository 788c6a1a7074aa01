// The SPI ROM commands through the command logic on kb2203 (XC7A100T with an N25Q128): the
// target switch and its lines, refusals that leave files and flash alone, Cancel skipping the
// verify, and a programmed design that the FPGA boots after the restart.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/session.h"
#include "app_fixture.h"
#include "jtag/status.h"

namespace vireo::app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kGood = "examples/example_xc7a100t.bit";
constexpr const char* kOther = "examples/example_xc7s50.bit";
constexpr uint32_t kFlashBytes = 16u << 20;  // N25Q128

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class FlashTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        dir_ = fs::temp_directory_path() / ("vireo_flash_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        use("kb2203");
    }
    void TearDown() override {
        fs::remove_all(dir_);
        AppTest::TearDown();
    }
    // What the status command says of the FPGA now.
    bool done(Session& session) {
        ui_.log.clear();
        return session.config_status() == JTAG_OK && ui_.logged("FPGA is configured (DONE high)");
    }

    fs::path dir_;
};

TEST_F(FlashTest, CommandsOutsideTheSpiRomTargetOrWithoutABoardDoNothing) {
    {
        Session session(ui_, paths_);
        EXPECT_EQ(session.flash_erase(), JTAG_UNSUPPORTED) << "FPGA target";
        EXPECT_EQ(session.flash_program(kGood, 0), JTAG_UNSUPPORTED);
        EXPECT_FALSE(ui_.logged("SPI")) << ui_.joined();
        EXPECT_TRUE(ui_.results.empty());
    }
    test::use_virtual_board("");
    Session session(ui_, paths_);
    EXPECT_EQ(session.set_target(Target::SpiRom), JTAG_NO_DEVICE);
    EXPECT_EQ(session.target(), Target::Fpga);
    EXPECT_FALSE(session.spi_mode());
    EXPECT_FALSE(ui_.logged("Now entering SPI ROM mode.")) << ui_.joined();
}

TEST_F(FlashTest, VerifyAgainstAnotherFileFailsAndReadNeverReplacesAFileUnasked) {
    // Images without a sync word: the restarted FPGA reads them and stays unconfigured.
    std::string one(4096, '\0'), two(4096, '\0');
    for (size_t i = 0; i < one.size(); ++i) {
        one[i] = static_cast<char>(i * 7 + 1);
        two[i] = static_cast<char>(i * 7 + (i == 3000 ? 2 : 1));
    }
    const fs::path first = dir_ / "one.bin", second = dir_ / "two.bin";
    std::ofstream(first, std::ios::binary) << one;
    std::ofstream(second, std::ios::binary) << two;

    Session session(ui_, paths_);
    ASSERT_EQ(session.set_target(Target::SpiRom), JTAG_OK) << ui_.joined();
    const fs::path kept = dir_ / "kept.bin";
    std::ofstream(kept) << "keep me";
    const uint32_t tail = kFlashBytes - 4096;
    ui_.answer = false;
    EXPECT_NE(session.flash_read(kept.string(), tail), JTAG_OK);
    EXPECT_EQ(ui_.questions.size(), 1u) << "the user was asked";
    EXPECT_EQ(read_text(kept), "keep me");
    EXPECT_TRUE(ui_.logged("読み出しを中止します")) << ui_.joined();
    EXPECT_TRUE(ui_.results.empty()) << "the user's no is no failure to show";

    ui_.questions.clear();
    EXPECT_EQ(session.flash_read(kept.string(), tail, true), JTAG_OK) << ui_.joined();
    EXPECT_TRUE(ui_.questions.empty()) << "overwrite given: nobody asked";
    EXPECT_EQ(read_text(kept), std::string(4096, '\xFF')) << "the blank end of the flash";
    EXPECT_EQ(ui_.results.back(), "Readback Success!!");
    // The yes was for that command only.
    EXPECT_NE(session.flash_read(kept.string(), tail), JTAG_OK);
    EXPECT_EQ(ui_.questions.size(), 1u);

    ASSERT_EQ(session.flash_program(first.string(), 0x1000, true, false), JTAG_OK) << ui_.joined();
    EXPECT_TRUE(ui_.logged("did not boot from the SPI ROM (DONE low)")) << ui_.joined();
    ui_.results.clear();
    EXPECT_EQ(session.flash_verify(second.string(), 0x1000), JTAG_VERIFY) << ui_.joined();
    EXPECT_EQ(session.flash_verify(first.string(), 0x2000), JTAG_VERIFY) << "another offset";
    EXPECT_EQ(session.flash_verify((dir_ / "missing.bin").string(), 0), JTAG_FILE_OPEN);
    EXPECT_EQ(session.flash_blank(), JTAG_VERIFY) << "not blank";
    EXPECT_EQ(ui_.results, (std::vector<std::string>{"Verify Failed!!", "Verify Failed!!",
                                                     "Verify Failed!!", "BlankCheck Failed!!"}));
    // The flash code's own lines (its dumps among them) come without the date in front.
    EXPECT_NE(std::find(ui_.log.begin(), ui_.log.end(), "ベリファイエラーがあります"),
              ui_.log.end())
        << ui_.joined();
    EXPECT_EQ(session.flash_verify(first.string(), 0x1000), JTAG_OK) << ui_.joined();
}

TEST_F(FlashTest, CancelStopsTheProgramAndSkipsTheVerify) {
    Session session(ui_, paths_);
    ASSERT_EQ(session.set_target(Target::SpiRom), JTAG_OK) << ui_.joined();
    bool cancelled = false;
    ui_.on_events = [&](std::pair<int, int> progress) {
        if (!cancelled && progress.first > 0) {
            cancelled = true;
            session.cancel();
        }
    };
    EXPECT_EQ(session.flash_program(kGood, 0), JTAG_CANCELLED) << ui_.joined();
    ui_.on_events = nullptr;
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(ui_.results, std::vector<std::string>{"Program Canceled"});
    EXPECT_FALSE(ui_.logged("SPIのベリファイを開始します")) << ui_.joined();
    EXPECT_TRUE(ui_.logged("did not boot from the SPI ROM")) << "half an image does not boot";

    // A cancel during the restart that leaves the flash: the command did not finish.
    ASSERT_EQ(session.set_target(Target::SpiRom), JTAG_OK) << ui_.joined();
    ui_.on_events = [&](std::pair<int, int>) { session.cancel(); };
    EXPECT_EQ(session.set_target(Target::Fpga), JTAG_CANCELLED) << ui_.joined();
    ui_.on_events = nullptr;
    EXPECT_TRUE(ui_.logged("The FPGA restart was cancelled")) << ui_.joined();
    EXPECT_FALSE(ui_.logged("unkwnon error")) << ui_.joined();
}

TEST_F(FlashTest, AProgrammedDesignIsVerifiedAndBootedAfterTheRestart) {
    Session session(ui_, paths_);
    ASSERT_EQ(session.set_target(Target::SpiRom), JTAG_OK) << ui_.joined();
    EXPECT_TRUE(session.spi_mode());
    const int entering = ui_.find("Now entering SPI ROM mode.");
    ASSERT_GE(entering, 0) << ui_.joined();
    const std::vector<std::string> lines = ui_.texts();
    const std::vector<std::string> expected = {
        "SPI ROM was found.",         "-------------------------------------------",
        "Device type        N25Q128",  // Micron: no maker name
        "Page size         256",      "Max pages         65536",
        "Device capability 16777216", "-------------------------------------------"};
    const int found = ui_.find("SPI ROM was found.");
    ASSERT_GT(found, entering);
    ASSERT_LE(found + expected.size(), lines.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + found,
                                       lines.begin() + found + static_cast<int>(expected.size())),
              expected);
    EXPECT_EQ(ui_.picture, paths_.sys_dir + "kb2203b.bmp");

    ui_.log.clear();
    EXPECT_EQ(session.flash_id(), JTAG_OK) << ui_.joined();
    EXPECT_EQ(session.flash_dump(0), JTAG_OK) << ui_.joined();
    EXPECT_GT(ui_.log.size(), 16u) << "the dumps go to the log";
    EXPECT_TRUE(ui_.results.empty()) << "the dumps show no result";

    EXPECT_EQ(session.flash_program(kGood, 0), JTAG_OK) << ui_.joined();
    EXPECT_TRUE(ui_.logged("SPIのベリファイを開始します")) << "program, then verify";
    EXPECT_EQ(ui_.results, std::vector<std::string>{"Program Success!!"});
    EXPECT_TRUE(ui_.logged("The FPGA restarted and booted from the SPI ROM (DONE high)."))
        << ui_.joined();
    EXPECT_TRUE(done(session)) << "the FPGA runs the design from the flash\n" << ui_.joined();

    ui_.log.clear();
    EXPECT_EQ(session.set_target(Target::Fpga), JTAG_OK);
    EXPECT_FALSE(session.spi_mode());
    EXPECT_TRUE(ui_.logged("booted from the SPI ROM (DONE high)")) << ui_.joined();
    EXPECT_EQ(ui_.picture, paths_.sys_dir + "kb2203a.bmp");
    EXPECT_EQ(session.flash_verify(kGood, 0), JTAG_UNSUPPORTED) << "back on the FPGA target";
    EXPECT_TRUE(done(session));
}

}  // namespace
}  // namespace vireo::app
