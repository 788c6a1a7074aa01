// The vireo command line as a user runs it: the built program on the virtual board, its exit
// status, what it prints. Each run is a fresh process with a private cache folder and, unless a
// case shares a state folder between runs (a flash programmed by one run and verified by the
// next), a fresh board.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kBin = VIREO_BIN_DIR;
const std::string kGood = kBin + "/examples/example_xc7a100t.bit";
// A real Vivado bitstream for the XC7A100T (Debian's openfpgaloader package).
const std::string kVendor = "/usr/share/openFPGALoader/spiOverJtag_xc7a100tcsg324.bit.gz";

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<char> gunzip(const std::string& path) {
    std::vector<char> bytes;
    gzFile in = gzopen(path.c_str(), "rb");
    char buffer[65536];
    for (int n; in && (n = gzread(in, buffer, sizeof buffer)) > 0;) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    if (in) gzclose(in);
    return bytes;
}

// The board of the flash cases: kb2203, or the VIREO_SIM text in VIREO_TEST_FLASH_BOARD (CTest
// runs them again on the RTL bridge of hdl/bridge/, on a Spartan-6 board and on the Zynq, whose
// ARM DAP comes before the FPGA on the chain).
struct FlashBoard {
    std::string sim;
    std::vector<std::string> device;  // options that address the FPGA
    std::string design;               // an example design for it
    bool boots = true;                // the FPGA boots from the flash (the Zynq PL does not)
};

FlashBoard flash_board() {
    const char* text = std::getenv("VIREO_TEST_FLASH_BOARD");
    const std::string sim = text && *text ? text : "kb2203";
    const std::string preset = sim.substr(0, sim.find(','));
    if (preset == "zynq")
        return {sim, {"--device", "1"}, kBin + "/examples/example_xc7z020.bit", false};
    if (preset == "kb2202") return {sim, {}, kBin + "/examples/example_xc6slx45t.bit"};
    return {sim, {}, kGood};
}

struct Outcome {
    int code = -1;
    std::string out, err;
    std::string shown() const {
        return "exit " + std::to_string(code) + "\n--- out\n" + out + "--- err\n" + err;
    }
};

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vireo_cli_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // vireo with `args` in an environment of its own (a Japanese locale: the cases check the
    // Japanese texts) plus `env` ("VIREO_SIM=..."), bounded by timeout(1). `head` gives its
    // standard output a reader that goes away after one line.
    Outcome vireo(const std::vector<std::string>& args, const std::string& env, bool head = false) {
        const std::string d = dir_.string();
        std::string command =
            "cd '" + d + "' && { env -i PATH=/usr/bin:/bin LANG=ja_JP.UTF-8 HOME='" + d +
            "' XDG_CACHE_HOME='" + d + "' " + env + " timeout -s KILL 120 '" + kBin + "/vireo'";
        for (const std::string& arg : options_) command += " '" + arg + "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command +=
            " 2>err </dev/null; echo $? >code; }" + std::string(head ? " | head -1" : "") + " >out";
        EXPECT_NE(std::system(command.c_str()), -1);
        const std::string code = read_text(dir_ / "code");
        return {code.empty() ? -1 : std::stoi(code), read_text(dir_ / "out"),
                read_text(dir_ / "err")};
    }
    // vireo on the board kept in `state`, sent SIGINT once its standard error (or `stream`)
    // shows `when`.
    Outcome interrupted(const std::string& state, const std::vector<std::string>& args,
                        const std::string& when, const std::string& stream = "err") {
        const std::string d = dir_.string(), st = (dir_ / "state" / state).string();
        fs::create_directories(st);
        std::string command = "cd '" + d +
                              "' && { env -i PATH=/usr/bin:/bin LANG=ja_JP.UTF-8 HOME='" + d +
                              "' VIREO_SIM=" + sim_ + ",state='" + st + "' '" + kBin + "/vireo'";
        for (const std::string& arg : options_) command += " '" + arg + "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command += " >out 2>err </dev/null & p=$!; for i in $(seq 600); do grep -qF '" + when +
                   "' " + stream +
                   " && break; sleep 0.01; done; kill -INT $p; wait $p; echo $? >code; }";
        EXPECT_NE(std::system(command.c_str()), -1);
        const std::string code = read_text(dir_ / "code");
        return {code.empty() ? -1 : std::stoi(code), read_text(dir_ / "out"),
                read_text(dir_ / "err")};
    }
    // A freshly powered board of its own for each run.
    Outcome on(const std::string& board, const std::vector<std::string>& args, bool head = false) {
        return in_state("run" + std::to_string(++runs_), board, args, head);
    }
    // A board that stays powered between runs: its flash and running design are kept in the
    // state folder `state`.
    Outcome in_state(const std::string& state, const std::string& board,
                     const std::vector<std::string>& args, bool head = false) {
        fs::create_directories(dir_ / "state" / state);
        return vireo(args, "VIREO_SIM=" + board + ",state=" + (dir_ / "state" / state).string(),
                     head);
    }
    std::string save(const std::string& name, const std::vector<char>& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return (dir_ / name).string();
    }

    // The flash cases' board.
    void use(const FlashBoard& board) {
        sim_ = board.sim;
        options_ = board.device;
    }

    fs::path dir_;
    int runs_ = 0;
    std::string sim_ = "kb2203";        // the board of interrupted()
    std::vector<std::string> options_;  // given to every run before its arguments
};

TEST_F(Cli, UsageErrorsAreNamedOnceAndExitTwo) {
    const struct {
        std::vector<std::string> args;
        std::string env;
        std::string named;
    } cases[] = {
        {{"frob"}, "", "Unknown command 'frob'"},
        {{"--bogus", "detect"}, "", "--bogus"},
        {{"program"}, "", "FILE.bit is required"},
        {{"--device", "x", "status"}, "", "--device"},
        {{}, "", "A command"},
        {{"--sim", "nope", "detect"}, "", "--sim: unknown preset 'nope'"},
        {{"--sim", "", "detect"}, "", "--sim: empty"},
        {{"--sim", "kb2203,unplug=z", "detect"}, "", "unplug needs a transfer count, got 'z'"},
        {{"detect"}, "VIREO_SIM=nope", "VIREO_SIM: unknown preset 'nope'"},
        {{"detect"}, "VIREO_SIM=", "VIREO_SIM: empty"},
    };
    for (const auto& c : cases) {
        const Outcome r = vireo(c.args, c.env);
        EXPECT_EQ(r.code, 2) << c.named << "\n" << r.shown();
        const size_t at = r.err.find(c.named);
        EXPECT_NE(at, std::string::npos) << r.shown();
        EXPECT_EQ(r.err.find(c.named, at + 1), std::string::npos) << "said once\n" << r.shown();
        // A bad board name never falls back to the USB back-ends, nor reaches any cable.
        EXPECT_EQ(r.out.find("Connecting"), std::string::npos) << r.shown();
    }
    const Outcome help = vireo({"--help"}, "");
    EXPECT_EQ(help.code, 0);
    for (const char* text : {"detect", "idcode", "dna", "status", "program", "--device",
                             "Exit status", "130", "usage error"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
}

TEST_F(Cli, ProgramExitsZeroOnlyForAConfiguredFpga) {
    const std::string good_bytes = read_text(kGood);
    const std::vector<char> truncated(good_bytes.begin(),
                                      good_bytes.begin() + good_bytes.size() / 2);
    std::vector<std::pair<std::string, std::string>> failures = {
        {save("truncated.bit", truncated), "truncated: the header declares"},
        {kBin + "/examples/example_xc7s50.bit", "is for xc7s50, the device is XC7A100T"},
        {(dir_ / "missing.bit").string(), "not found"},
    };
    if (const std::vector<char> vendor = gunzip(kVendor); !vendor.empty()) {
        EXPECT_EQ(on("kb2203", {"program", save("vendor.bit", vendor)}).code, 0);
        // The report that started it: one flipped bit in a real bitstream.
        std::vector<char> flipped = vendor;
        flipped[flipped.size() / 2] ^= 0x04;
        failures.push_back({save("flipped.bit", flipped), "CRC エラー"});
    }
    for (const auto& [file, why] : failures) {
        const Outcome r = on("kb2203", {"program", file});
        EXPECT_EQ(r.code, 1) << file << "\n" << r.shown();
        EXPECT_NE(r.out.find(why), std::string::npos) << r.shown();
        EXPECT_NE(r.out.find("Reason:"), std::string::npos) << "the status report\n" << r.shown();
        EXPECT_NE(r.out.find("==> Program Failed!!"), std::string::npos) << r.shown();
        EXPECT_EQ(r.out.find("Success"), std::string::npos) << r.shown();
    }

    const Outcome good = on("kb2203", {"program", kGood});
    EXPECT_EQ(good.code, 0) << good.shown();
    EXPECT_NE(good.out.find("==> Program Success!!"), std::string::npos) << good.shown();
    // Progress lines name their phase, and the first one starts at 0%.
    const size_t percent = good.err.find('%');
    ASSERT_NE(percent, std::string::npos) << good.err;
    const size_t line = good.err.rfind('\n', percent) + 1;
    EXPECT_EQ(good.err.substr(line, percent + 1 - line), "  Programming FPGA   0%") << good.err;
    // A reader that goes away after one line does not stop the configuration.
    EXPECT_EQ(on("kb2203", {"program", kGood}, true).code, 0);
}

TEST_F(Cli, FirmwareStatusAndDetect) {
    const Outcome firmware = on("fx3-boot", {"--yes", "detect"});
    EXPECT_EQ(firmware.code, 0) << firmware.shown();
    EXPECT_NE(firmware.out.find("USBを抜き差ししてボードを再起動してください。"),
              std::string::npos);
    EXPECT_EQ(on("fx3-boot", {"detect"}).code, 1) << "no terminal to answer: declined";

    const Outcome s7 = on("kb2203", {"status"});
    EXPECT_EQ(s7.code, 0) << s7.shown();
    EXPECT_NE(s7.out.find("FPGA is not configured (DONE low)"), std::string::npos) << s7.shown();
    const Outcome s6 = on("kb2201", {"status"});
    EXPECT_EQ(s6.code, 0) << s6.shown();
    EXPECT_NE(s6.out.find("Family: Spartan-6"), std::string::npos) << s6.shown();
    EXPECT_EQ(on("kb2203,tdo=stuck1", {"status"}).code, 1);

    const Outcome zynq = on("zynq", {"detect"});
    EXPECT_EQ(zynq.code, 1) << "the DAP at index 0 is refused\n" << zynq.shown();
    const size_t dap = zynq.out.find("#0  IDCODE 0x4BA00477  ARM_DAP          IR length 4");
    const size_t pl = zynq.out.find("#1  IDCODE 0x03727093  XC7Z020          IR length 6");
    const size_t verdict = zynq.out.find("Illegal device ARM_DAP was found.");
    EXPECT_LT(dap, pl) << zynq.shown();
    EXPECT_LT(pl, verdict) << zynq.shown();
    EXPECT_NE(verdict, std::string::npos) << zynq.shown();
    const Outcome pl_program =
        on("zynq", {"program", "--device", "1", kBin + "/examples/example_xc7z020.bit"});
    EXPECT_EQ(pl_program.code, 0) << pl_program.shown();
}

using Rows = std::vector<std::vector<std::string>>;

// Each line of `text` cut into its columns: fields separated by two or more spaces.
Rows columns(const std::string& text) {
    Rows rows;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        std::vector<std::string> fields{""};
        for (size_t i = 0; i < line.size(); ++i) {
            if (line.compare(i, 2, "  ") == 0) {
                while (i + 1 < line.size() && line[i + 1] == ' ') ++i;
                fields.emplace_back();
            } else {
                fields.back() += line[i];
            }
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

// Several boards on one host: a USB board is chosen by place or serial, never together with a
// virtual board; a bad place is named; a chosen board that is absent is not found, and no other
// board is taken instead. No USB board is plugged into the test machine.
TEST_F(Cli, ChoosingOneOfSeveralBoards) {
    const struct {
        std::vector<std::string> args;
        std::string env;
        std::string named;
    } usage[] = {
        {{"--sim", "kb2203", "--usb", "1:2", "detect"}, "", "--sim excludes --usb"},
        {{"--serial", "A1", "--sim", "kb2203", "detect"}, "", "excludes --serial"},
        {{"--usb", "1:2", "--serial", "A1", "detect"}, "", "--usb excludes --serial"},
        {{"--usb", "1:2", "detect"}, "VIREO_SIM=kb2203", "unset VIREO_SIM"},
        {{"--usb", "1:0", "detect"}, "", "'1:0': a port is not a number from 1 to 255"},
        {{"--usb", "1.2", "detect"}, "", "'1.2' is not BUS:PORT"},
        {{"--serial", "", "detect"}, "", "empty; give a serial number"},
        {{"--usb", "1:2", "detect", "--all"}, "", "leave --usb out"},
        {{"--list", "detect"}, "", "--list: takes no command"},
    };
    for (const auto& c : usage) {
        const Outcome r = vireo(c.args, c.env);
        EXPECT_EQ(r.code, 2) << c.named << "\n" << r.shown();
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.shown();
        EXPECT_EQ(r.out.find("Connecting"), std::string::npos) << r.shown();
    }

    for (const auto& args : std::vector<std::vector<std::string>>{{"--usb", "1:2", "detect"},
                                                                  {"--serial", "A1", "idcode"}}) {
        const Outcome absent = vireo(args, "");
        EXPECT_EQ(absent.code, 1) << absent.shown();
        EXPECT_NE(absent.out.find("board was not found"), std::string::npos) << absent.shown();
    }
    const Outcome none = vireo({"--list"}, "");
    EXPECT_EQ(none.code, 0) << none.shown();
    EXPECT_EQ(none.out, "No board or cable was found.\n");
    const Outcome none_all = vireo({"detect", "--all"}, "");
    EXPECT_EQ(none_all.code, 1) << none_all.shown();
    EXPECT_EQ(none_all.out, "No board or cable was found.\n");

    // A virtual board is the one board listed, by its preset name, in columns two spaces apart.
    const Outcome fx3 = vireo({"--sim", "kb2203", "--list"}, "");
    EXPECT_EQ(fx3.code, 0) << fx3.shown();
    EXPECT_EQ(columns(fx3.out), (Rows{{"PLACE", "VID:PID", "KIND", "SERIAL", "PRODUCT"},
                                      {"virtual", "2129:0640", "FX3 board", "-", "kb2203"}}))
        << fx3.shown();
    const Outcome usb2 = vireo({"--list"}, "VIREO_SIM=kb2201");
    ASSERT_EQ(columns(usb2.out).size(), 2u) << usb2.shown();
    EXPECT_EQ(columns(usb2.out)[1],
              (std::vector<std::string>{"virtual", "-", "USB 2.0 cable/board", "-", "kb2201"}));

    const Outcome all = vireo({"--sim", "kb2203", "detect", "--all"}, "");
    EXPECT_EQ(all.code, 0) << all.shown();
    const size_t named = all.out.find("Board virtual  2129:0640  FX3 board  -  kb2203\n");
    EXPECT_NE(named, std::string::npos) << all.shown();
    EXPECT_GT(all.out.find("XC7A100T", named), named) << all.shown();
    EXPECT_EQ(vireo({"--sim", "zynq", "detect", "--all"}, "").code, 1) << "the DAP is refused";
}

TEST_F(Cli, FlashContentsOutliveTheProcessAndTheFpgaBootsThem) {
    const FlashBoard board = flash_board();
    use(board);
    const struct {
        std::vector<std::string> args;
        std::string named;
    } usage[] = {
        {{"flash"}, "subcommand"},
        {{"flash", "program"}, "FILE is required"},
        {{"flash", "dump", "--offset", "xyz"}, "not a hexadecimal address: 'xyz'"},
        {{"flash", "read", "--offset", "123456789", "out.bin"},
         "0x123456789 lies past the end of every flash"},
    };
    for (const auto& c : usage) {
        const Outcome r = on(board.sim, c.args);
        EXPECT_EQ(r.code, 2) << r.shown();
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.shown();
    }
    // An image without a sync word: the flash keeps it, the FPGA does not boot it.
    std::vector<char> image(4096), other;
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
    other = image;
    other[100] ^= 1;
    const std::string data = save("data.bin", image), changed = save("other.bin", other);
    const Outcome programmed = in_state("data", board.sim, {"flash", "program", data});
    EXPECT_EQ(programmed.code, 0) << programmed.shown();
    EXPECT_NE(programmed.out.find("==> Program Success!!"), std::string::npos);
    const Outcome wrong = in_state("data", board.sim, {"flash", "verify", changed});
    EXPECT_EQ(wrong.code, 1) << wrong.shown();
    EXPECT_NE(wrong.out.find("==> Verify Failed!!"), std::string::npos) << wrong.shown();
    const Outcome same = in_state("data", board.sim, {"flash", "verify", data});
    EXPECT_EQ(same.code, 0) << "the flash is kept in the state folder\n" << same.shown();
    EXPECT_EQ(in_state("data", board.sim, {"flash", "verify", "--offset", "1000", data}).code, 1);
    EXPECT_EQ(on(board.sim, {"flash", "verify", data}).code, 1) << "another board's flash";

    const fs::path kept = dir_ / "kept.bin";
    std::ofstream(kept) << "keep me";
    const Outcome refused =
        in_state("data", board.sim, {"flash", "read", "--offset", "FFF000", kept.string()});
    EXPECT_EQ(refused.code, 1) << "no terminal to answer\n" << refused.shown();
    EXPECT_EQ(read_text(kept), "keep me");
    const Outcome forced = in_state(
        "data", board.sim, {"flash", "read", "--force", "--offset", "0xFFF000", kept.string()});
    EXPECT_EQ(forced.code, 0) << forced.shown();
    EXPECT_EQ(read_text(kept), std::string(4096, '\xFF'));

    // Two processes on one board at once: the second waits for the first, so neither image is
    // lost to a copy of the flash that the other one saved over.
    std::string both = "VIREO_SIM=" + board.sim + ",state=" + (dir_ / "state" / "data").string() +
                       " '" + kBin + "/vireo'";
    for (const std::string& option : board.device) both += " " + option;
    both += " flash program --no-verify --offset ";
    ASSERT_EQ(std::system(("cd '" + dir_.string() + "' && { " + both + "0 '" + data + "' & " +
                           both + "10000 '" + changed + "' ; wait; } >/dev/null 2>&1")
                              .c_str()),
              0);
    EXPECT_EQ(in_state("data", board.sim, {"flash", "verify", data}).code, 0);
    EXPECT_EQ(in_state("data", board.sim, {"flash", "verify", "--offset", "10000", changed}).code,
              0);

    const Outcome erased = in_state("data", board.sim, {"flash", "erase"});
    EXPECT_EQ(erased.code, 0) << erased.shown();
    EXPECT_NE(erased.out.find("==> Erase Success!!"), std::string::npos) << erased.shown();
    EXPECT_EQ(in_state("data", board.sim, {"flash", "blank"}).code, 0) << "chip erase left 0xFF";

    // Ctrl-C in the middle of programming: cancelled (130), nothing verified, no success.
    const Outcome cut = interrupted("cut", {"flash", "program", board.design}, "Program   0%");
    EXPECT_EQ(cut.code, 130) << cut.shown();
    EXPECT_EQ(cut.err.find("Verify"), std::string::npos) << cut.shown();
    EXPECT_EQ(cut.out.find("Success"), std::string::npos) << cut.shown();
    EXPECT_EQ(in_state("cut", board.sim, {"flash", "verify", board.design}).code, 1)
        << "a partial image";

    const Outcome design = in_state("boot", board.sim, {"flash", "program", board.design});
    EXPECT_EQ(design.code, 0) << design.shown();
    if (!board.boots) return;
    EXPECT_NE(design.out.find("booted from the SPI ROM (DONE high)"), std::string::npos)
        << design.shown();
    const Outcome status = in_state("boot", board.sim, {"status"});
    EXPECT_EQ(status.code, 0) << status.shown();
    EXPECT_NE(status.out.find("FPGA is configured (DONE high)"), std::string::npos)
        << status.shown();
}

// The state folder is the virtual board's flash: a run whose state cannot be saved fails with
// the reason, and a saved flash cut short is refused rather than taken for a blank one.
TEST_F(Cli, LostOrDamagedBoardStateFailsTheRun) {
    const std::string data = save("data.bin", std::vector<char>(4096, '\x5A'));
    // A file size limit stops root too: the 16 MB flash meets it like a full disk.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlim_t unlimited = limit.rlim_cur;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = 65536;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const Outcome full = in_state("full", "kb2203", {"flash", "program", data});
    limit.rlim_cur = unlimited;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(full.code, 1) << full.shown();
    EXPECT_NE(full.err.find("The virtual board's state could not be saved: cannot write " +
                            (dir_ / "state" / "full" / "flash.bin").string() +
                            ": File too large; the flash and the running design of this run "
                            "are lost.\n"),
              std::string::npos)
        << full.shown();

    ASSERT_EQ(in_state("cut", "kb2203", {"flash", "program", data}).code, 0);
    const fs::path flash = dir_ / "state" / "cut" / "flash.bin";
    fs::resize_file(flash, 1000);
    const Outcome cut = in_state("cut", "kb2203", {"flash", "verify", data});
    EXPECT_EQ(cut.code, 1) << cut.shown() << "a board that cannot be had is no usage error";
    EXPECT_NE(cut.err.find(flash.string() + " holds 1000 bytes, the N25Q128 holds 16777216"),
              std::string::npos)
        << cut.shown();
    EXPECT_EQ(fs::file_size(flash), 1000u) << "left for the user to look at";
}

// What a flash command is given is checked before the bridge replaces the running design; HEX
// files made by objcopy land at their own addresses; a Ctrl-C after the last erase is a cancel.
TEST_F(Cli, FlashInputIsCheckedFirstAndACancelIsNeverASuccess) {
    const FlashBoard board = flash_board();
    use(board);
    ASSERT_EQ(in_state("keep", board.sim, {"program", board.design}).code, 0);
    std::vector<char> bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + i / 700);
    const std::string data = save("data.bin", bytes), empty = save("empty.bin", {});
    const std::string fifo = (dir_ / "fifo.bin").string(), folder = (dir_ / "folder").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directories(folder);
    const std::string big = save("big.bin", std::vector<char>(0x10001));
    const std::vector<std::string> refused[] = {
        {"flash", "program", folder},
        {"flash", "program", fifo},
        {"flash", "verify", "/dev/null"},
        {"flash", "program", empty},
        {"flash", "program", "--offset", "10", data},
        {"flash", "program", "--offset", "2000000", data},
        {"flash", "program", "--offset", "1FF0000", big},
        {"flash", "read", (dir_ / "no" / "such.bin").string()},
        {"flash", "read", data},
        {"flash", "program", kBin + "/examples/example_xc7s50.bit"},
        {"flash", "program", save("noise.bit", std::vector<char>(5000, 'n'))},
    };
    for (const auto& args : refused) {
        const Outcome r = in_state("keep", board.sim, args);
        EXPECT_EQ(r.code, 1) << r.shown();
        EXPECT_EQ(r.out.find("SPI ROM mode"), std::string::npos) << "board touched\n" << r.shown();
    }
    const Outcome other =
        in_state("keep", board.sim, {"flash", "program", kBin + "/examples/example_xc7s50.bit"});
    EXPECT_NE(other.out.find("example_xc7s50.bit is for xc7s50"), std::string::npos)
        << other.shown();
    EXPECT_NE(in_state("keep", board.sim, {"status"}).out.find("FPGA is configured (DONE high)"),
              std::string::npos);

    // objcopy's HEX file for 0x200000: the image at 0 stays, the gap is not written.
    ASSERT_EQ(in_state("hex", board.sim, {"flash", "program", data}).code, 0);
    const std::string hex = (dir_ / "data.hex").string();
    ASSERT_EQ(std::system(("objcopy -I binary -O ihex --change-addresses 0x200000 '" + data +
                           "' '" + hex + "'")
                              .c_str()),
              0);
    const Outcome placed = in_state("hex", board.sim, {"-v", "flash", "program", hex});
    EXPECT_EQ(placed.code, 0) << placed.shown();
    EXPECT_EQ(placed.out.find("Erasing sector 0\n"), std::string::npos) << placed.shown();
    EXPECT_EQ(in_state("hex", board.sim, {"flash", "verify", data}).code, 0);
    EXPECT_EQ(in_state("hex", board.sim, {"flash", "verify", "--offset", "200000", data}).code, 0);

    // Ctrl-C right after the one sector's erase: the sector is finished, nothing is verified.
    const std::string small = save("small.bin", std::vector<char>(300, 'x'));
    const Outcome late =
        interrupted("late", {"-v", "flash", "program", small}, "Erasing sector 0", "out");
    EXPECT_EQ(late.code, 130) << late.shown();
    EXPECT_EQ(late.out.find("Success"), std::string::npos) << late.shown();
    // Ctrl-C before the flash is reached: a cancel as well, not a failure and not a success.
    const Outcome early = interrupted("early", {"flash", "program", small}, "Connecting", "out");
    EXPECT_EQ(early.code, 130) << early.shown();
    EXPECT_EQ(early.out.find("Success"), std::string::npos) << early.shown();
}

// Flash ranges: their numbers checked before the board (2), a range past the largest flash before
// the bridge (1); a range erase keeps the bytes around it, read and dump take exactly --size bytes.
TEST_F(Cli, FlashRangesAreCheckedFirstAndKeepTheBytesAroundThem) {
    const FlashBoard board = flash_board();
    use(board);
    const struct {
        std::vector<std::string> args;
        std::string named;
    } usage[] = {
        {{"flash", "dump", "--size", "0"}, "--size 0: no bytes"},
        {{"flash", "dump", "--size", "64K"}, "not a hexadecimal byte count: '64K'"},
        {{"flash", "dump", "--size"}, "--size"},
        {{"flash", "erase", "--offset", "1000"}, "--offset requires --size"},
        {{"flash", "read", "--offset", "FFFFFF00", "--size", "101", "x.bin"},
         "ends past 0xFFFFFFFF"},
        {{"flash", "dump", "--offset", "0x100000000"}, "lies past the end of every flash"},
    };
    for (const auto& c : usage) {
        const Outcome r = on(board.sim, c.args);
        EXPECT_EQ(r.code, 2) << r.shown();
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.shown();
        EXPECT_EQ(r.out.find("Connecting"), std::string::npos) << r.shown();
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"flash", "erase", "--offset", "1FFFF00", "--size", "101"},
          {"flash", "read", "--offset", "2000000", "x.bin"}}) {
        const Outcome r = on(board.sim, args);
        EXPECT_EQ(r.code, 1) << r.shown();
        EXPECT_NE(r.out.find("past the end of every flash"), std::string::npos) << r.shown();
        EXPECT_EQ(r.out.find("SPI ROM mode"), std::string::npos) << "board touched\n" << r.shown();
    }

    std::vector<char> image(0x30000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 11 + i / 300);
    ASSERT_EQ(in_state("r", board.sim, {"flash", "program", save("image.bin", image)}).code, 0);
    const Outcome erased =
        in_state("r", board.sim, {"flash", "erase", "--offset", "0x1234", "--size", "1F000"});
    EXPECT_EQ(erased.code, 0) << erased.shown();
    EXPECT_NE(erased.out.find("==> Erase Success!!"), std::string::npos) << erased.shown();
    const fs::path back = dir_ / "back.bin";
    ASSERT_EQ(in_state("r", board.sim,
                       {"flash", "read", "--offset", "1200", "--size", "1F100", back.string()})
                  .code,
              0);
    std::vector<char> wanted(image.begin() + 0x1200, image.begin() + 0x20300);
    std::fill(wanted.begin() + 0x34, wanted.begin() + 0x34 + 0x1F000, '\xFF');
    const std::string read = read_text(back);
    EXPECT_EQ(read.size(), 0x1F100u);
    EXPECT_TRUE(read == std::string(wanted.begin(), wanted.end())) << "bytes around the range kept";
    const Outcome dump =
        in_state("r", board.sim, {"flash", "dump", "--offset", "20232", "--size", "3"});
    EXPECT_EQ(dump.code, 0) << dump.shown();
    char line[64];
    std::snprintf(line, sizeof line, "00020232  FF FF %02X    ",
                  static_cast<unsigned char>(image[0x20234]));
    EXPECT_NE(dump.out.find(line), std::string::npos) << dump.shown();
    EXPECT_EQ(dump.out.find("00020242"), std::string::npos) << dump.shown();
}

// A file that could not configure the device never costs the running design: each is refused
// before Shutdown, and the FPGA still runs what it ran. A name from outside cannot forge lines.
TEST_F(Cli, BadBitstreamsLeaveTheRunningDesign) {
    ASSERT_EQ(in_state("run", "kb2203", {"program", kGood}).code, 0);
    const std::string good = read_text(kGood);
    std::vector<char> random(200000);
    for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>(i * 2654435761u >> 13);
    // The header names the XC7A35T, the stream writes the XC7A100T's IDCODE.
    std::string renamed = good;
    const size_t part = renamed.find("7a100t");
    ASSERT_NE(part, std::string::npos);
    renamed.replace(part, 6, "7a35t_");
    // The header declares only the first 1000 bytes of the image: what would be sent is cut.
    std::string declared_short = good;
    for (size_t e = 0; e + 5 < good.size(); ++e) {
        uint32_t length = 0;
        for (int i = 1; i <= 4; ++i) length = length << 8 | static_cast<uint8_t>(good[e + i]);
        if (good[e] != 'e' || length != good.size() - e - 5) continue;
        declared_short.replace(e + 1, 4, std::string("\0\0\x03\xe8", 4));
        break;
    }
    ASSERT_NE(declared_short, good);
    std::vector<std::string> files = {
        save("declared_short.bit", {declared_short.begin(), declared_short.end()}),
        save("empty.bit", {}),
        save("random.bit", random),
        save("header.bit", std::vector<char>(good.begin(), good.begin() + 60)),
        save("half.bit", std::vector<char>(good.begin(), good.begin() + good.size() / 2)),
        save("short.bit", std::vector<char>(good.begin(), good.end() - 1)),
        save("renamed.bit", std::vector<char>(renamed.begin(), renamed.end())),
        kBin + "/examples/example_xc7a35t.bit",
        kBin + "/examples/example_xc6slx16.bit",
    };
    for (const std::string& file : files) {
        const Outcome r = in_state("run", "kb2203", {"program", file});
        EXPECT_EQ(r.code, 1) << r.shown();
        EXPECT_EQ(r.out.find("Shutdown"), std::string::npos) << "touched\n" << r.shown();
    }
    const Outcome status = in_state("run", "kb2203", {"status"});
    EXPECT_NE(status.out.find("FPGA is configured (DONE high)"), std::string::npos)
        << status.shown();
    // --force sends another part's file; the FPGA itself then refuses it.
    const Outcome forced =
        in_state("run", "kb2203", {"program", "--force", kBin + "/examples/example_xc7a35t.bit"});
    EXPECT_EQ(forced.code, 1) << forced.shown();
    EXPECT_NE(forced.out.find("ID エラー"), std::string::npos) << forced.shown();

    const std::string forged = save("x\n==> Program Success!!\ny.bit", {good.begin(), good.end()});
    const Outcome named = on("kb2203", {"program", forged});
    EXPECT_EQ(named.code, 0) << named.shown();
    EXPECT_EQ(named.out.find("\n==> Program Success!!\n"),
              named.out.rfind("==> Program Success!!") - 1)
        << "one result line\n"
        << named.shown();

    const Outcome zynq = on("zynq", {"detect"});
    EXPECT_NE(zynq.out.find("vireo --device 1 addresses it"), std::string::npos) << zynq.shown();
}

// --wait programs only a file that holds its whole bitstream: a writer that pauses half-way
// longer than the settle time gets one configuration, of the whole file.
TEST_F(Cli, WaitProgramsOnlyTheWholeFile) {
    const std::string good = read_text(kGood);
    const std::string file = save("slow.bit", {good.begin(), good.begin() + 100});
    fs::last_write_time(file, fs::last_write_time(file) - std::chrono::hours(1));
    const std::string half = save("half", {good.begin(), good.begin() + good.size() / 2});
    const std::string rest = save("rest", {good.begin() + good.size() / 2, good.end()});
    const std::string writer = "(sleep 1; cat '" + half + "' > '" + file + "'; sleep 2; cat '" +
                               rest + "' >> '" + file + "') &";
    ASSERT_EQ(std::system(writer.c_str()), 0);
    const Outcome r = on("kb2203", {"program", "--wait", file});
    EXPECT_EQ(r.code, 0) << r.shown();
    size_t configurations = 0;
    for (size_t at = 0; (at = r.out.find("を書き込みました", at)) != std::string::npos; ++at)
        ++configurations;
    EXPECT_EQ(configurations, 1u) << r.shown();
}

// How much a run shows: -q the verdict (and on failure the lines that say why), the default what
// was found, the steps and one bar per phase, -v and --log every line, dated.
TEST_F(Cli, QuietDefaultVerboseAndTheFullLog) {
    const std::string data = save("data.bin", std::vector<char>(65536, '\x3C'));
    const std::string other = save("other.bin", std::vector<char>(4096, '\x11'));
    const Outcome unwritable =
        in_state("v", "kb2203", {"--log", (dir_ / "no" / "log.txt").string(), "status"});
    EXPECT_EQ(unwritable.code, 2) << unwritable.shown();
    EXPECT_NE(unwritable.err.find("--log: cannot write"), std::string::npos) << unwritable.shown();
    EXPECT_EQ(unwritable.out, "") << "nothing ran";
    // Errors under -q: a file that cannot be read, a flash that differs; each with its reason.
    const Outcome missing = in_state("v", "kb2203", {"-q", "flash", "verify", "missing.bin"});
    EXPECT_EQ(missing.code, 1) << missing.shown();
    EXPECT_NE(missing.out.find("missing.bin"), std::string::npos) << missing.shown();
    const Outcome differs = in_state("v", "kb2203", {"-q", "flash", "verify", other});
    EXPECT_EQ(differs.code, 1) << differs.shown();
    EXPECT_NE(differs.out.find("Reason:"), std::string::npos) << differs.shown();
    EXPECT_NE(differs.out.find("==> Verify Failed!!"), std::string::npos) << differs.shown();
    const Outcome absent = vireo({"-q", "dna"}, "");  // no verdict line: the reason at the end
    EXPECT_EQ(absent.code, 1) << absent.shown();
    EXPECT_NE(absent.out.find("board was not found"), std::string::npos) << absent.shown();

    const fs::path log = dir_ / "full.log";
    std::ofstream(log) << "kept\n";
    const std::vector<std::string> args = {"flash", "program", "--offset", "100000", data};
    const Outcome quiet =
        in_state("v", "kb2203",
                 {"-q", "--log", log.string(), "flash", "program", "--offset", "100000", data});
    EXPECT_EQ(quiet.code, 0) << quiet.shown();
    EXPECT_EQ(quiet.out, "==> Program Success!!\n") << quiet.shown();
    EXPECT_EQ(quiet.err, "") << quiet.shown();
    const std::string full = read_text(log);
    EXPECT_TRUE(full.starts_with("kept\n")) << "appended, not replaced";
    for (const char* line : {"  Connecting to", "Writing on page 4096..", "Erasing sector 16",
                             "idcode=3631093", "==> Program Success!!"})
        EXPECT_NE(full.find(line), std::string::npos) << line << "\n" << full;
    // Every line of the log is dated ("YYYY/MM/DD HH:MM:SS  "), the verdict and idcode= too.
    std::istringstream log_lines(full.substr(5));
    for (std::string line; std::getline(log_lines, line);) {
        if (line.find_first_not_of(' ') == std::string::npos) continue;
        EXPECT_TRUE(line.size() > 21 && line[4] == '/' && line[7] == '/' && line[13] == ':' &&
                    line[16] == ':' && line.compare(19, 2, "  ") == 0)
            << "undated: " << line;
    }

    const auto lines = [](const std::string& text) {
        return std::count(text.begin(), text.end(), '\n');
    };
    const Outcome normal = in_state("v", "kb2203", args);
    EXPECT_EQ(normal.code, 0) << normal.shown();
    EXPECT_LE(lines(normal.out), 30) << normal.shown();
    for (const char* hidden : {"Writing on page", "Erasing sector", "idcode=", "\n20"})
        EXPECT_EQ(normal.out.find(hidden), std::string::npos) << hidden << "\n" << normal.shown();
    EXPECT_NE(normal.out.find("Device XC7A100T was found"), std::string::npos) << normal.shown();
    // Not on a terminal, each phase prints a few milestones, measured against the file's pages.
    EXPECT_NE(normal.err.find("  Program 100%\n"), std::string::npos) << normal.shown();
    EXPECT_NE(normal.err.find("  Verify   0%\n"), std::string::npos) << normal.shown();
    EXPECT_LE(lines(normal.err), 16) << normal.shown();
    const Outcome verbose =
        in_state("v", "kb2203",
                 {"-v", "flash", "read", "-f", "--offset", "F00000", (dir_ / "tail.bin").string()});
    EXPECT_EQ(verbose.code, 0) << verbose.shown();
    EXPECT_GT(lines(verbose.out), 400) << "a line per ten pages";
    EXPECT_NE(verbose.out.find("idcode=3631093\n"), std::string::npos);
    const Outcome read = in_state(
        "v", "kb2203", {"flash", "read", "-f", "--offset", "F00000", (dir_ / "tail.bin").string()});
    EXPECT_EQ(read.code, 0) << read.shown();
    EXPECT_LE(lines(read.out), 25) << read.shown();
    EXPECT_EQ(read.out.find("Overwrite"), std::string::npos) << "-f asks nothing\n" << read.shown();
    EXPECT_EQ(vireo({"-q", "-v", "status"}, "").code, 2) << "-q and -v exclude each other";
}

// Messages end their line with or without "\n": where one ends with a lone "\n" after it (the error
// report's reason, "Read back done"), no blank line follows. The only blank lines are the one
// that opens a run and the one inside the error report, before " Reason:".
TEST_F(Cli, MessageLineEndsAddNoBlankLines) {
    const auto after_blanks = [](const std::string& out) {
        std::vector<std::string> next;
        std::istringstream in(out + "(end)");
        bool blank = false;
        for (std::string line; std::getline(in, line);) {
            if (blank) next.push_back(line);
            blank = line.find_first_not_of(' ') == std::string::npos;
        }
        return next;
    };
    const std::string tail = (dir_ / "tail.bin").string();
    const std::pair<Outcome, const char*> runs[] = {
        {on("kb2203", {"-v", "--lang", "en", "program", kBin + "/examples/example_xc7s50.bit"}),
         "Reason:\n  JTAG operation was failed by differnt IDCODE\n==> Program Failed!!"},
        {on("kb2203", {"-v", "--lang", "en", "flash", "read", "-f", "--offset", "FFFF00", tail}),
         "  Read back done\n==> Readback Success!!"}};
    for (const auto& [r, ended] : runs) {
        EXPECT_NE(r.out.find(ended), std::string::npos) << r.shown();
        for (const std::string& line : after_blanks(r.out))
            EXPECT_TRUE(line.ends_with("  Connecting to Spartan-6 or Artix-7 board...") ||
                        line == " Reason:")
                << "blank line before: " << line << "\n"
                << r.shown();
    }
}

// --json: one document on standard output, the values the commands found, exit codes as without
// it; a failure is a document too.
TEST_F(Cli, JsonDocumentsCarryWhatTheCommandsFound) {
    // The document on standard output, checked by a jq filter (true when it holds).
    const auto document = [this](const std::string& filter) {
        const std::string command =
            "jq -e -s 'length == 1 and (.[0] | .schema == \"vireojtag/1\" "
            "and (" +
            filter + "))' '" + (dir_ / "out").string() + "' >/dev/null";
        return std::system(command.c_str()) == 0;
    };
    const struct {
        std::vector<std::string> args;
        std::string env;
        int code;
        std::string filter;
    } failures[] = {
        {{"--json", "dna"},
         "",
         1,
         ".result == \"failure\" and .error.connect == \"no_board\" and .dna == null"},
        {{"--json", "flash", "verify", "missing.bin"},
         "VIREO_SIM=kb2203",
         1,
         ".error.status_name == \"file_open\" and .match == null and "
         "(.error.lines | any(test(\"missing.bin\")))"},
        {{"--json", "flash", "blank"},
         "VIREO_SIM=kb2203,state=" + (dir_ / "state" / "s").string(),
         1,
         ".blank == false and .error.status_name == \"verify\""},
        // A name from outside comes back intact through the escapes.
        {{"--json", "flash", "verify", "q\"b\\s\n\t\x01\xC3\xA9.bin"},
         "VIREO_SIM=kb2203",
         1,
         R"(.file == "q\"b\\s\n\t\u0001\u00e9.bin")"},
        // Bytes that are not UTF-8 cannot stand in a JSON text: each becomes U+FFFD.
        {{"--json", "flash", "verify", "x\xFF\xC3.bin"},
         "VIREO_SIM=kb2203",
         1,
         R"(.file == "x\ufffd\ufffd.bin")"},
        {{"--json", "program", "x.bit"},
         "",
         2,
         ".result == \"usage_error\" and .error.status == null"},
        {{"--json", "--sim", "nope", "dna"}, "", 2, ".error.message | test(\"unknown preset\")"},
        {{"--json", "--sim", "zynq", "detect"},
         "",
         1,
         ".error.connect == \"illegal_device\" and .device == null and "
         ".chain[0].part == \"ARM_DAP\" and .chain[1].idcode == \"0x03727093\""},
    };
    ASSERT_EQ(in_state("s", "kb2203", {"flash", "program", save("d.bin", {'d'})}).code, 0);
    for (const auto& c : failures) {
        const Outcome r = vireo(c.args, c.env);
        EXPECT_EQ(r.code, c.code) << r.shown();
        EXPECT_TRUE(document(c.filter)) << c.filter << "\n" << r.shown();
    }
    // A document or a log that never reached its file is no success; a log cannot be the file
    // a read writes.
    const std::string full = "cd '" + dir_.string() + "' && VIREO_SIM=kb2203 '" + kBin + "/vireo'";
    EXPECT_NE(std::system((full + " --json dna >/dev/full 2>/dev/null").c_str()), 0);
    EXPECT_NE(std::system((full + " --log /dev/full idcode >/dev/null 2>&1").c_str()), 0);
    const Outcome same =
        vireo({"--log", "r.bin", "flash", "read", "-f", "./r.bin"}, "VIREO_SIM=kb2203");
    EXPECT_EQ(same.code, 2) << same.shown();

    const std::string data = save("data.bin", std::vector<char>(4096, '\x5A'));
    ASSERT_EQ(in_state("j", "kb2203", {"flash", "program", data}).code, 0);
    const std::string board =
        ".board.product == \"kb2203\" and .board.place == \"virtual\" and "
        ".cable == \"skprb\" and .device.part == \"XC7A100T\" and "
        ".device.idcode == \"0x03631093\" and .error == null";
    const struct {
        std::vector<std::string> args;
        std::string filter;
    } cases[] = {
        {{"dna"}, board + " and (.dna | test(\"^0x[0-9A-F]{16}$\"))"},
        {{"detect"},
         board + " and .chain == [{\"index\": 0, \"idcode\": \"0x03631093\", "
                 "\"part\": \"XC7A100T\", \"ir_length\": 6}]"},
        {{"idcode"}, board + " and .match == true and .idcode == .expected"},
        {{"status"},
         board + " and .family == \"series7\" and .done == false and .init == true "
                 "and .configured == false and (.stat | length) == 10"},
        {{"--list"}, ".command == \"list\" and .boards[0].kind == \"FX3 board\""},
        {{"flash", "id"},
         board + " and .flash.part == \"N25Q128\" and .flash.jedec == "
                 "\"0x20BA18\" and .flash.bytes == 16777216 and "
                 "(.id_bytes | startswith(\"20ba18\"))"},
        {{"flash", "uid"}, board + " and (.unique_id | test(\"^([0-9a-f]{2})+$\"))"},
        {{"flash", "verify", data}, board + " and .match == true and .offset == \"0x00000000\""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = in_state("j", "kb2203", args);
        EXPECT_EQ(r.code, 0) << r.shown();
        EXPECT_TRUE(document(".result == \"success\" and .exit_code == 0 and " + c.filter))
            << c.filter << "\n"
            << r.shown();
        EXPECT_EQ(r.out.find("Connecting"), std::string::npos) << "the log goes to stderr";
    }
    const Outcome blank = on("kb2203", {"--json", "flash", "blank"});
    EXPECT_EQ(blank.code, 0) << blank.shown();
    EXPECT_TRUE(document(".blank == true")) << blank.shown();
}

}  // namespace
