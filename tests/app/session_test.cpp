#include "app/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "app/file_watch.h"
#include "app/host.h"
#include "jtag/status.h"
#include "sim/virtual_board.h"
#include "sim/xilinx_fpga.h"

namespace vireo::app {
namespace {

namespace fs = std::filesystem;

// Records what the command logic shows; answers questions from a script.
class RecordingUi : public AppUi {
public:
    void append_log(const std::string& line) override { log.push_back(line); }
    void show_progress(int position, int maximum) override {
        if (maximum > 0) last_progress = {position, maximum};
    }
    void show_status(const std::string& text) override { statuses.push_back(text); }
    bool ask_yes_no(const std::string&, const std::string& question) override {
        questions.push_back(question);
        return answer;
    }
    void show_message(const std::string&, const std::string& text) override {
        messages.push_back(text);
    }
    void show_picture(const std::string& path) override { picture = path; }
    void show_device_name(const std::string& name) override { device = name; }
    void show_result(const std::string& text, int) override { results.push_back(text); }
    void set_busy(bool) override {}

    // Log lines without their date-and-time prefix.
    std::vector<std::string> texts() const {
        // "2026/12/07 20:45:12  text": 19 characters of date and time, then two blanks.
        std::vector<std::string> out;
        for (const std::string& line : log) {
            const bool dated = line.size() > 21 && line[4] == '/' && line[7] == '/' &&
                               line[13] == ':' && line.compare(19, 2, "  ") == 0;
            out.push_back(dated ? line.substr(21) : line);
        }
        return out;
    }
    bool logged(const std::string& text) const {
        for (const std::string& t : texts()) {
            if (t.find(text) != std::string::npos) return true;
        }
        return false;
    }

    std::vector<std::string> log, statuses, questions, messages, results;
    std::pair<int, int> last_progress{0, 0};
    std::string picture, device;
    bool answer = true;
};

class SessionTest : public ::testing::Test {
protected:
    void use(const char* preset) {
        std::string error;
        ASSERT_NE(sim::reset_virtual_board(preset, &error), nullptr) << error;
    }
    void SetUp() override {
        paths_.exe_dir = fs::current_path().string() + "/";
        paths_.sys_dir = paths_.exe_dir + "sys/";
        install_host(&ui_, paths_);
    }
    void TearDown() override { sim::reset_virtual_board(""); }

    sim::XilinxFpga* fpga() {
        return sim::virtual_board()->chain().find<sim::XilinxFpga>();
    }

    RecordingUi ui_;
    AppPaths paths_;
};

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

TEST_F(SessionTest, NoBoardAndNoDevice) {
    sim::reset_virtual_board("");
    // Without VIREO_SIM the real back-ends are used; no board of ours is plugged in here.
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
    // Captured bit i is DNA bit 56 - i; the log shows bits 32..63 first, then 0..31.
    const uint64_t dna = fpga()->dna();
    uint64_t captured = 0;
    for (int i = 0; i < 57; ++i) captured |= ((dna >> (56 - i)) & 1ULL) << i;
    char expected[64];
    std::snprintf(expected, sizeof expected, "DeviceDNA:%08lx-%08lx",
                  static_cast<unsigned long>(captured >> 32),
                  static_cast<unsigned long>(captured & 0xFFFFFFFF));
    EXPECT_TRUE(ui_.logged(expected)) << expected;
    EXPECT_NE(captured, 0u);
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

    EXPECT_NE(session.program_fpga("examples/no_such_file.bit"), JTAG_OK);
    EXPECT_TRUE(ui_.logged("FPGAへの書き込みは失敗しました"));
    EXPECT_EQ(ui_.results.back(), "Program Failed!!");
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
    Session session(ui_, paths_);
    ui_.answer = false;
    EXPECT_EQ(session.connect(), ConnectResult::FirmwareDeclined);
    ASSERT_EQ(ui_.questions.size(), 1u);
    EXPECT_EQ(ui_.questions[0], "Cypress EZ-USB FX3が検出されました。\nファームウェアを書き換えますか？");
    EXPECT_FALSE(ui_.logged("Connecting"));

    ui_.answer = true;
    EXPECT_EQ(session.connect(), ConnectResult::FirmwareLoaded);
    EXPECT_TRUE(ui_.logged("ファームウェアを書き込みます"));
    ASSERT_FALSE(ui_.messages.empty());
    EXPECT_EQ(ui_.messages.back(),
              "ファームウェアを書き込みました。USBを抜き差ししてボードを再起動してください。");
    // Replugged, the board now runs its JTAG firmware.
    EXPECT_EQ(session.connect(), ConnectResult::Connected);
    EXPECT_EQ(session.device_name(), "XC7A100T");
}

TEST(FileUpdateWatch, EndsOnANewerStampOnly) {
    const fs::path file = fs::temp_directory_path() / ("watch_" + std::to_string(::getpid()));
    fs::remove(file);
    FileUpdateWatch missing(file.string());
    EXPECT_FALSE(missing.has_stamp());
    EXPECT_FALSE(missing.updated());
    std::ofstream(file) << "v1";
    EXPECT_TRUE(missing.updated()) << "a file that appears counts as updated";

    const auto t0 = fs::last_write_time(file);
    FileUpdateWatch watch(file.string());
    EXPECT_TRUE(watch.has_stamp());
    EXPECT_FALSE(watch.updated());
    fs::last_write_time(file, t0 + std::chrono::seconds(2));
    EXPECT_TRUE(watch.updated());
    EXPECT_TRUE(file_timestamp_text(file.string()).has_value());
    EXPECT_FALSE(file_timestamp_text("/nonexistent/file.bit").has_value());
    fs::remove(file);
}

}  // namespace
}  // namespace vireo::app
