#include "app/session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/file_watch.h"
#include "app/host.h"
#include "app_fixture.h"
#include "jtag/msg.h"
#include "jtag/status.h"

namespace vireo::app {
namespace {

namespace fs = std::filesystem;

using SessionTest = AppTest;

// The log line of a DNA read: captured bit i is DNA bit 56 - i; bits 32..63 first, then 0..31.
std::string dna_line(uint64_t dna) {
    uint64_t captured = 0;
    for (int i = 0; i < 57; ++i) captured |= ((dna >> (56 - i)) & 1ULL) << i;
    char text[64];
    std::snprintf(text, sizeof text, "DeviceDNA:%08lx-%08lx",
                  static_cast<unsigned long>(captured >> 32),
                  static_cast<unsigned long>(captured & 0xFFFFFFFF));
    return text;
}

TEST(LogLine, DatePrefixOnlyOnTextThatIsNotBlank) {
    std::tm when{};
    when.tm_year = 126, when.tm_mon = 11, when.tm_mday = 7, when.tm_hour = 9, when.tm_min = 5;
    when.tm_isdst = -1;
    const std::time_t t = std::mktime(&when);
    EXPECT_EQ(log_line("Device XC7A100T was found succesfully.\n", t),
              "2026/12/07 09:05:00  Device XC7A100T was found succesfully.");
    EXPECT_EQ(log_line("", t), " ");
    EXPECT_EQ(log_line("   \n", t), "   ");
}

TEST(BoardPictures, ByDeviceAndTarget) {
    EXPECT_EQ(board_picture("XC6SLX45", Target::Fpga, "/nonexistent/"), "kb2201a.bmp");
    EXPECT_EQ(board_picture("XC7S50_CSGA324", Target::SpiRom, "/nonexistent/"), "kb2205b.bmp");
    EXPECT_EQ(board_picture("XC6SLX4", Target::Fpga, "/nonexistent/"), "none.bmp");
    EXPECT_EQ(board_picture("XC7A200T", Target::Fpga, "/nonexistent/"), "") << "picture kept";
    EXPECT_TRUE(supported_device("XC7S50_CSGA324"));
    EXPECT_FALSE(supported_device("XC7S50"));
    EXPECT_FALSE(supported_device("xc7a100t")) << "names are case-sensitive";
}

TEST_F(SessionTest, ConnectsToAnFx3BoardAndLaterConnectsQuietly) {
    use("kb2203");
    Session session(ui_, paths_);
    ASSERT_EQ(session.connect(), ConnectResult::Connected);
    EXPECT_EQ(session.device_name(), "XC7A100T");
    EXPECT_EQ(ui_.device, "XC7A100T");
    EXPECT_EQ(ui_.picture, paths_.sys_dir + "kb2203a.bmp");
    EXPECT_TRUE(ui_.logged("Connecting to Spartan-6 or Artix-7 board..."));
    EXPECT_TRUE(ui_.logged("Device XC7A100T was found succesfully."));
    EXPECT_EQ(ui_.log.front(), " ");

    const size_t lines = ui_.log.size();
    ASSERT_EQ(session.connect(), ConnectResult::Connected);
    for (size_t i = lines; i < ui_.log.size(); ++i) {
        EXPECT_EQ(ui_.log[i].find("Connecting"), std::string::npos);
        EXPECT_EQ(ui_.log[i].find("found succesfully"), std::string::npos);
    }
    session.disconnect();
    EXPECT_EQ(session.chain(), nullptr);
}

TEST_F(SessionTest, ZynqBoardIsRefusedBecauseItsFirstDeviceIsTheArmDap) {
    use("zynq");
    Session session(ui_, paths_);
    EXPECT_EQ(session.connect(), ConnectResult::IllegalDevice);
    EXPECT_TRUE(ui_.logged("Illegal device ARM_DAP was found."));
    EXPECT_EQ(ui_.picture, paths_.sys_dir + "none.bmp");
    EXPECT_EQ(session.chain(), nullptr);
    EXPECT_FALSE(session.connected());
}

TEST_F(SessionTest, ZynqPlAddressedByItsIndex) {
    use("zynq");
    sim::XilinxFpga* pl = fpga();
    Session session(ui_, paths_);
    session.select_device(1);
    EXPECT_EQ(session.detect(), ConnectResult::Connected) << ui_.joined();
    EXPECT_TRUE(ui_.logged("Device XC7Z020 was found succesfully."));
    EXPECT_EQ(session.idcode_check(), JTAG_OK);
    EXPECT_TRUE(ui_.logged("デバイス'XC7Z020'のIDCODEは 0x03727093 で正常です")) << ui_.joined();
    EXPECT_EQ(session.device_dna(), JTAG_OK);
    EXPECT_TRUE(ui_.logged(dna_line(pl->dna()))) << ui_.joined();
    EXPECT_EQ(session.program_fpga("examples/example_xc7z020.bit"), JTAG_OK) << ui_.joined();
    EXPECT_TRUE(pl->engine().done());
    EXPECT_EQ(session.config_status(), JTAG_OK);
    EXPECT_TRUE(ui_.logged("Configuration status of device 1, XC7Z020:"));
    EXPECT_TRUE(ui_.logged("FPGA is configured (DONE high)")) << ui_.joined();
    // The flash behind the PL, reached with the DAP in BYPASS whatever the IDCODE read left.
    ASSERT_EQ(session.set_target(Target::SpiRom), JTAG_OK) << ui_.joined();
    EXPECT_EQ(session.idcode_check(), JTAG_OK);
    EXPECT_EQ(session.flash_id(), JTAG_OK);
    EXPECT_TRUE(ui_.logged("00000000  EF 60 18 00 00 00                                 .`...."))
        << ui_.joined();
    EXPECT_EQ(session.set_target(Target::Fpga), JTAG_FAIL) << "the PL does not boot from it";

    session.select_device(0);
    EXPECT_EQ(session.connect(), ConnectResult::IllegalDevice) << "the DAP configures nothing";
    session.select_device(2);
    EXPECT_EQ(session.idcode_check(), JTAG_NO_DEVICE);
    EXPECT_TRUE(ui_.logged("Device 2 was not found: the chain holds 2 device(s)."));
    EXPECT_EQ(session.chain(), nullptr);
}

// Progress without a text of its own carries the phase the command logic names, told again
// after a progress ended.
TEST_F(SessionTest, ProgressNamesItsPhase) {
    set_progress_phase("Shutdown");
    for (int step : {1, 2, 0, 1}) report_progress(step, step ? 4 : 0, "");
    report_progress(5, 10, "Programming FPGA");
    set_progress_phase("");
    EXPECT_EQ(ui_.phases, (std::vector<std::string>{"Shutdown", "Shutdown", "Programming FPGA"}));
}

TEST_F(SessionTest, NoBoardAndNoDevice) {
    test::use_virtual_board("");
    // Without a virtual board the real back-ends are used; no board of ours is plugged in here.
    Session session(ui_, paths_);
    if (session.connect() == ConnectResult::NoBoard) {
        EXPECT_TRUE(ui_.logged("Spartan-6 nor Artix-7 board was not found"));
    }
    use("kb2203,tdo=stuck1");
    EXPECT_EQ(session.connect(), ConnectResult::NoDevice);
    EXPECT_TRUE(ui_.logged("Any device was not found on Spartan-6 or Artix-7 board."));
}

TEST_F(SessionTest, IdcodeCheckAndDnaRead) {
    use("kb2203");
    Session session(ui_, paths_);
    EXPECT_EQ(session.idcode_check(), JTAG_OK);
    EXPECT_TRUE(ui_.logged("デバイス'XC7A100T'のIDCODEは 0x03631093 で正常です"));

    EXPECT_EQ(session.device_dna(), JTAG_OK);
    EXPECT_TRUE(ui_.logged(dna_line(fpga()->dna()))) << ui_.joined();
    EXPECT_NE(fpga()->dna(), 0u);
}

TEST_F(SessionTest, DnaReadLeavesAConfiguredDesignRunning) {
    use("kb2203");
    Session session(ui_, paths_);
    ASSERT_EQ(session.program_fpga("examples/example_xc7a100t.bit"), JTAG_OK);
    ASSERT_TRUE(fpga()->engine().isc_done());
    ASSERT_EQ(session.device_dna(), JTAG_OK);
    EXPECT_TRUE(fpga()->engine().isc_done()) << "ISC_DISABLE restarted the design";
    EXPECT_FALSE(fpga()->engine().isc_enabled());
}

TEST_F(SessionTest, ProgramsTheFpgaAndReportsTheResult) {
    use("kb2203");
    Session session(ui_, paths_);
    EXPECT_EQ(session.program_fpga("examples/example_xc7a100t.bit"), JTAG_OK);
    EXPECT_TRUE(fpga()->engine().done());
    EXPECT_TRUE(ui_.logged("FPGAへファイル\"examples/example_xc7a100t.bit\"を書き込みました"));
    EXPECT_EQ(ui_.results.back(), "Program Success!!");
    EXPECT_EQ(ui_.last_progress.first, ui_.last_progress.second);
    EXPECT_EQ(session.chain(), nullptr) << "the chain is closed after the command";
}

TEST_F(SessionTest, WaitThatEndsWithCancelProgramsNothing) {
    use("kb2203");
    Session session(ui_, paths_);
    auto give_up = [](const std::string&) { return false; };
    EXPECT_EQ(session.program_fpga("examples/example_xc7a100t.bit", give_up), JTAG_CANCELLED);
    EXPECT_TRUE(ui_.logged("書き込みはキャンセルされました"));
    EXPECT_FALSE(fpga()->engine().done());
}

TEST_F(SessionTest, BootLoaderOffersFirmwareAndDecliningEndsTheCommand) {
    use("fx3-boot");
    {
        // Without the firmware image the download fails, and says so.
        AppPaths no_image = paths_;
        no_image.sys_dir = "/nonexistent/";
        Session session(ui_, no_image);
        EXPECT_EQ(session.connect(), ConnectResult::FirmwareFailed);
        EXPECT_TRUE(ui_.logged("ファームウェア書き込み失敗")) << ui_.joined();
        EXPECT_TRUE(ui_.messages.empty());
        ui_.questions.clear();
    }
    Session session(ui_, paths_);
    ui_.answer = false;
    EXPECT_EQ(session.connect(), ConnectResult::FirmwareDeclined);
    ASSERT_EQ(ui_.questions.size(), 1u);
    EXPECT_EQ(ui_.questions[0],
              "Cypress EZ-USB FX3が検出されました。\nファームウェアを書き換えますか？");
    EXPECT_FALSE(ui_.logged("Connecting"));

    ui_.answer = true;
    EXPECT_EQ(session.connect(), ConnectResult::FirmwareLoaded);
    EXPECT_TRUE(ui_.logged("ファームウェアを書き込みます"));
    EXPECT_EQ(session.last_connect(), ConnectResult::FirmwareLoaded);
    ASSERT_FALSE(ui_.messages.empty());
    EXPECT_EQ(ui_.messages.back(),
              "ファームウェアを書き込みました。USBを抜き差ししてボードを再起動してください。");
    // Replugged, the board now runs its JTAG firmware.
    EXPECT_EQ(session.connect(), ConnectResult::Connected);
    EXPECT_EQ(session.device_name(), "XC7A100T");
}

}  // namespace
}  // namespace vireo::app
