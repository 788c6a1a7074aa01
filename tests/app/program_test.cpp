// Programming and status through the command logic: only a verified configuration is a success,
// a file the modules would refuse leaves the running design alone, Cancel and a lost cable
// report what really happened, and the status command explains the FPGA's state.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/session.h"
#include "app_fixture.h"
#include "devalg/series7.h"
#include "jtag/devalg.h"
#include "jtag/status.h"

namespace vireo::app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kGood = "examples/example_xc7a100t.bit";

std::vector<char> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class ProgramTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        dir_ = fs::temp_directory_path() / ("vireo_program_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        AppTest::TearDown();
    }
    std::string save(const std::string& name, const std::vector<char>& bytes) {
        write_bytes(dir_ / name, bytes);
        return (dir_ / name).string();
    }
    // How many USB transfers a command takes on a fresh kb2203.
    template <class Command>
    uint64_t transfers_of(Command command) {
        use("kb2203");
        Session session(ui_, paths_);
        command(session);
        return board_->counters().transfers;
    }

    fs::path dir_;
};

// Entries 10, 11 and 12 of a module that offers them, each called with 1 (the built-in modules
// have none); `g_fpga_done` tells whether the FPGA still ran its design (before Shutdown).
std::vector<std::pair<uint32_t, bool>> g_prepared;
sim::XilinxFpga* g_fpga = nullptr;
template <uint32_t Code>
int prepare(DevAlgModule*, int option) {
    if (option == 1) g_prepared.emplace_back(Code, g_fpga->engine().done());
    return JTAG_OK;
}

TEST_F(ProgramTest, AModulesPreparingEntriesRunBeforeShutdown) {
    use("kb2203");
    g_fpga = fpga();
    ASSERT_EQ(Session(ui_, paths_).program_fpga(kGood), JTAG_OK);
    std::vector<DevAlgEntry> table;
    for (const DevAlgEntry* entry = series7_entries(); entry->name; ++entry)
        table.push_back(*entry);
    table.push_back({"Prepare10", reinterpret_cast<DevAlgFunction>(&prepare<10>), 10});
    table.push_back({"Prepare11", reinterpret_cast<DevAlgFunction>(&prepare<11>), 11});
    table.push_back({"Prepare12", reinterpret_cast<DevAlgFunction>(&prepare<12>), 12});
    table.push_back({nullptr, nullptr, 0});
    devalg_register_family(DEVALG_SERIES7, table.data());
    g_prepared.clear();
    const int result = Session(ui_, paths_).program_fpga(kGood);
    devalg_register_family(DEVALG_SERIES7, series7_entries());
    EXPECT_EQ(result, JTAG_OK) << ui_.joined();
    EXPECT_EQ(g_prepared,
              (std::vector<std::pair<uint32_t, bool>>{{10, true}, {11, true}, {12, true}}));
}

TEST_F(ProgramTest, RefusedFilesLeaveTheRunningDesignConfigured) {
    use("kb2203");
    Session session(ui_, paths_);
    ASSERT_EQ(session.program_fpga(kGood), JTAG_OK) << ui_.joined();

    fs::create_directories(dir_ / "folder.bit");
    fs::create_directories(dir_ / "v1.2");
    write_bytes(dir_ / "v1.2" / "top", read_bytes(kGood));
    write_bytes(dir_ / "design.txt", read_bytes(kGood));
    ASSERT_EQ(::mkfifo((dir_ / "pipe.bit").c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::string first;  // the text the configuration modules use for the refusal
        std::string cause;  // "" when that text says it all
    };
    std::vector<Case> cases = {
        {(dir_ / "missing.bit").string(), "Bit file format error", "not found"},
        {(dir_ / "folder.bit").string(), "Bit file format error", "is a directory"},
        {(dir_ / "pipe.bit").string(), "Bit file format error", "not a regular file"},
        {(dir_ / "v1.2" / "top").string(), "Bit file format error", "has no .bit extension"},
        {(dir_ / "design.txt").string(), "Not bitstream file.", ""},
    };
    if (::geteuid() != 0) {  // root reads any file
        write_bytes(dir_ / "locked.bit", read_bytes(kGood));
        fs::permissions(dir_ / "locked.bit", fs::perms::none);
        cases.push_back(
            {(dir_ / "locked.bit").string(), "Bit file format error", "permission denied"});
    }
    for (const Case& c : cases) {
        ui_.log.clear();
        EXPECT_EQ(session.program_fpga(c.path), JTAG_FILE_OPEN) << c.path;
        EXPECT_TRUE(fpga()->engine().done()) << c.path << ": the running design was cleared";
        const int first = ui_.find(c.first);
        const int failed = ui_.find("FPGAへの書き込みは失敗しました");
        EXPECT_GE(first, 0) << c.path << "\n" << ui_.joined();
        EXPECT_GT(failed, first) << c.path;
        if (!c.cause.empty()) {
            const int cause = ui_.find(c.cause);
            EXPECT_EQ(cause, first + 1) << c.path << "\n" << ui_.joined();
            EXPECT_TRUE(ui_.logged("'" + c.path + "'")) << "the cause names the file";
        }
        EXPECT_TRUE(ui_.logged("file open error")) << c.path << "\n" << ui_.joined();
        EXPECT_EQ(ui_.results.back(), "Program Failed!!");
    }

    // The extension is the file name's: a dot in a folder name does not make it one.
    fs::rename(dir_ / "v1.2" / "top", dir_ / "v1.2" / "top.bit");
    EXPECT_EQ(session.program_fpga((dir_ / "v1.2" / "top.bit").string()), JTAG_OK) << ui_.joined();
}

TEST_F(ProgramTest, CancelReportsWhatTheFpgaDid) {
    use("kb2203");
    Session session(ui_, paths_);
    // Cancel at the first piece of the image: the stream stops early.
    ui_.on_events = [&](std::pair<int, int> p) {
        if (p.second > 2 && p.first < p.second) session.cancel();
    };
    EXPECT_EQ(session.program_fpga(kGood), JTAG_CANCELLED) << ui_.joined();
    EXPECT_EQ(ui_.results.back(), "Program Canceled");
    EXPECT_TRUE(ui_.logged("FPGAへの書き込みはキャンセルされました"));
    EXPECT_FALSE(fpga()->engine().done());

    // Cancel once the whole image was sent: the FPGA configured, and that is what counts.
    ui_.on_events = [&](std::pair<int, int> p) {
        if (p.second > 2 && p.first == p.second) session.cancel();
    };
    EXPECT_EQ(session.program_fpga(kGood), JTAG_OK) << ui_.joined();
    EXPECT_TRUE(fpga()->engine().done());
    EXPECT_EQ(ui_.results.back(), "Program Success!!");
}

TEST_F(ProgramTest, LostCableIsReportedAsSuch) {
    // The cable goes half-way between the end of the connect and the end of the command.
    const uint64_t connect = transfers_of([](Session& s) { s.connect(); });
    const uint64_t program = transfers_of([](Session& s) { s.program_fpga(kGood); });
    const uint64_t status = transfers_of([](Session& s) { s.config_status(); });
    ASSERT_GT(status, connect + 1);

    use("kb2203,unplug=" + std::to_string((connect + program) / 2));
    Session session(ui_, paths_);
    ui_.log.clear();
    EXPECT_EQ(session.program_fpga(kGood), JTAG_DISCONNECTED) << ui_.joined();
    EXPECT_TRUE(ui_.logged("JTAG cable was disconnected forcibly")) << ui_.joined();
    EXPECT_EQ(ui_.results.back(), "Program Failed!!");

    use("kb2203,unplug=" + std::to_string((connect + status) / 2));
    ui_.log.clear();
    EXPECT_EQ(session.config_status(), JTAG_DISCONNECTED) << ui_.joined();
    EXPECT_TRUE(ui_.logged("JTAG cable was disconnected forcibly")) << ui_.joined();
}

TEST_F(ProgramTest, ACableLostAtAnyStepOfProgramIsNeverASuccess) {
    // One FX3 board and one USB 2.0 board: during the identity check and JPROGRAM, in the image
    // stream, and during the status read-back at the end.
    for (const auto& [preset, file] :
         {std::pair{"kb2203", kGood}, {"kb2201", "examples/example_xc6slx16.bit"}}) {
        const auto transfers_on = [&](auto command) {
            use(preset);
            Session session(ui_, paths_);
            command(session);
            return board_->counters().transfers;
        };
        const uint64_t connect = transfers_on([](Session& s) { s.connect(); });
        const uint64_t program = transfers_on([&](Session& s) { s.program_fpga(file); });
        ASSERT_GT(program, connect + 40);
        for (uint64_t cut : {connect + 2, connect + 8, connect + (program - connect) / 3,
                             connect + (program - connect) * 2 / 3, program - 14, program - 6}) {
            SCOPED_TRACE(std::string(preset) + ", unplugged after transfer " + std::to_string(cut));
            use(std::string(preset) + ",unplug=" + std::to_string(cut));
            Session session(ui_, paths_);
            ui_.log.clear();
            const int result = session.program_fpga(file);
            EXPECT_EQ(result, JTAG_DISCONNECTED);
            EXPECT_EQ(ui_.results.back(), "Program Failed!!");
            EXPECT_TRUE(ui_.logged("JTAG cable was disconnected forcibly")) << ui_.joined();
            EXPECT_FALSE(ui_.logged("FPGAへファイル")) << "no success line";
        }
    }
}

TEST_F(ProgramTest, StatusExplainsTheConfigurationWithoutChangingIt) {
    use("kb2203");
    Session session(ui_, paths_);
    ASSERT_EQ(session.config_status(), JTAG_OK) << ui_.joined();
    EXPECT_TRUE(ui_.logged("FPGA is not configured (DONE low)")) << ui_.joined();
    EXPECT_TRUE(ui_.logged("USERCODE 0x")) << ui_.joined();

    ASSERT_EQ(session.program_fpga(kGood), JTAG_OK);
    ui_.log.clear();
    ASSERT_EQ(session.config_status(), JTAG_OK);
    EXPECT_TRUE(ui_.logged("FPGA is configured (DONE high)")) << ui_.joined();
    EXPECT_TRUE(ui_.logged("DONE 1, INIT 1")) << ui_.joined();
    EXPECT_TRUE(fpga()->engine().done()) << "reading the status left the design running";
    EXPECT_TRUE(fpga()->engine().isc_done());

    std::vector<char> flipped = read_bytes(kGood);
    flipped[flipped.size() * 2 / 3] ^= 0x10;  // in the frame data, as a disk error would
    session.program_fpga(save("flipped.bit", flipped));
    ui_.log.clear();
    ASSERT_EQ(session.config_status(), JTAG_OK);
    EXPECT_TRUE(ui_.logged("FPGA is not configured (DONE low): CRC error")) << ui_.joined();
}

// The .bit header's texts reach the log and the terminal: a design name that would retitle the
// terminal if printed raw, a lone C1 byte, C1 as UTF-8 and a byte that is never UTF-8 around a
// Japanese name that must stay.
TEST_F(ProgramTest, HostileDesignNameIsShownHarmless) {
    use("kb2203");
    std::vector<char> bytes = read_bytes(kGood);
    const std::string hostile = "\x1b]0;\x07\x9b設計\xc2\x9b\xff";
    const std::string original = "vireo_synthetic";
    ASSERT_EQ(hostile.size(), original.size());
    auto at = std::search(bytes.begin(), bytes.end(), original.begin(), original.end());
    ASSERT_NE(at, bytes.end());
    std::copy(hostile.begin(), hostile.end(), at);
    Session session(ui_, paths_);
    ASSERT_EQ(session.program_fpga(save("hostile.bit", bytes)), JTAG_OK) << ui_.joined();
    EXPECT_TRUE(std::ranges::any_of(ui_.statuses, [](const std::string& s) {
        return s.starts_with("Design name:\\x1b]0;\\x07\\x9b設計\\xc2\\x9b\\xff_example;");
    })) << testing::PrintToString(ui_.statuses);
}

}  // namespace
}  // namespace vireo::app
