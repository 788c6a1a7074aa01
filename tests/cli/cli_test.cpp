// The vireo command line as a user runs it: the built program on the virtual board, its exit
// status, what it prints. Each run is a fresh process with a fresh board and a private cache
// folder; what must outlive one command (a design left running) is proven in the app tests.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "run_process.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

const std::string kBin = VIREO_BIN_DIR;
const std::string kGood = kBin + "/examples/example_xc7a100t.bit";
// A real Vivado bitstream for the XC7A100T (Debian's openfpgaloader package).
const std::string kVendor = "/usr/share/openFPGALoader/spiOverJtag_xc7a100tcsg324.bit.gz";

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<char> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<char> gunzip(const std::string& path) {
    std::vector<char> bytes;
    gzFile in = gzopen(path.c_str(), "rb");
    if (!in) return bytes;
    char buffer[65536];
    for (int n; (n = gzread(in, buffer, sizeof buffer)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    gzclose(in);
    return bytes;
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vireo_cli_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "state");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // vireo with `args`; `sim` (when not empty) goes into VIREO_SIM, with a private state folder.
    ProcessResult vireo(const std::vector<std::string>& args, const std::string& sim = "",
                        int stdout_lines = 0) {
        ProcessOptions options;
        options.env = {"PATH=/usr/bin:/bin", "HOME=" + dir_.string(),
                       "XDG_CACHE_HOME=" + dir_.string(), "LANG=C.UTF-8"};
        if (!sim.empty())
            options.env.push_back("VIREO_SIM=" + sim + ",state=" + (dir_ / "state").string());
        options.stdout_lines = stdout_lines;
        ProcessResult r = run_process(kBin + "/vireo", args, options);
        EXPECT_FALSE(r.timed_out) << "vireo did not end";
        return r;
    }
    std::string save(const std::string& name, const std::vector<char>& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    fs::path dir_;
};

std::string shown(const ProcessResult& r) {
    return "exit " + std::to_string(r.exit_code) + " signal " + std::to_string(r.signal) +
           "\n--- out\n" + r.out + "--- err\n" + r.err;
}

TEST_F(Cli, UsageErrorsAreNamedOnceAndExitTwo) {
    struct Case {
        std::vector<std::string> args;
        std::string env_sim;  // "-" leaves VIREO_SIM unset
        std::string named;
    };
    const Case cases[] = {
        {{"frob"}, "-", "Unknown command 'frob'"},
        {{"--bogus", "detect"}, "-", "--bogus"},
        {{"program"}, "-", "FILE.bit is required"},
        {{"--device", "x", "status"}, "-", "--device"},
        {{"detect", "extra"}, "-", "extra"},
        {{}, "-", "A command"},
        {{"--sim", "nope", "detect"}, "-", "--sim: unknown preset 'nope'"},
        {{"--sim", "", "detect"}, "-", "--sim: empty"},
        {{"--sim", "kb2203,unplug=z", "detect"}, "-", "unplug needs a transfer count, got 'z'"},
        {{"detect"}, "nope", "VIREO_SIM: unknown preset 'nope'"},
        {{"detect"}, "", "VIREO_SIM: empty"},
    };
    for (const Case& c : cases) {
        ProcessOptions options;
        options.env = {"PATH=/usr/bin:/bin", "HOME=" + dir_.string(),
                       "XDG_CACHE_HOME=" + dir_.string()};
        if (c.env_sim != "-") options.env.push_back("VIREO_SIM=" + c.env_sim);
        const ProcessResult r = run_process(kBin + "/vireo", c.args, options);
        EXPECT_EQ(r.exit_code, 2) << c.named << "\n" << shown(r);
        EXPECT_EQ(count(r.err, c.named), 1u) << shown(r);
        // A bad board name never falls back to the USB back-ends, nor reaches any cable.
        EXPECT_EQ(r.out.find("Connecting"), std::string::npos) << shown(r);
    }

    const ProcessResult help = vireo({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* text : {"detect", "idcode", "dna", "status", "program", "--device", "--sim",
                             "Exit status", "130", "usage error"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
}

TEST_F(Cli, ProgramFailuresExitOne) {
    std::vector<char> truncated = read_bytes(kGood);
    truncated.resize(truncated.size() / 2);
    std::vector<std::pair<std::string, std::string>> cases = {
        {save("truncated.bit", truncated), "exceeds device size"},
        {kBin + "/examples/example_xc7s50.bit", "ID エラー"},  // another part's image
        {(dir_ / "missing.bit").string(), "not found"},
        {save("design.txt", read_bytes(kGood)), "Not bitstream file."},
    };
    const std::vector<char> vendor = gunzip(kVendor);
    if (!vendor.empty()) {
        // The report that started it: one flipped bit in a real bitstream.
        std::vector<char> flipped = vendor;
        flipped[flipped.size() / 2] ^= 0x04;
        cases.insert(cases.begin(), {save("flipped.bit", flipped), "CRC エラー"});
        const ProcessResult good = vireo({"program", save("vendor.bit", vendor)}, "kb2203");
        EXPECT_EQ(good.exit_code, 0) << shown(good);
    }
    for (const auto& [file, why] : cases) {
        const ProcessResult r = vireo({"program", file}, "kb2203");
        EXPECT_EQ(r.exit_code, 1) << file << "\n" << shown(r);
        EXPECT_NE(r.out.find(why), std::string::npos) << shown(r);
        EXPECT_NE(r.out.find("==> Program Failed!!"), std::string::npos) << shown(r);
        EXPECT_EQ(r.out.find("Success"), std::string::npos) << shown(r);
    }
}

TEST_F(Cli, SuccessesExitZero) {
    const ProcessResult program = vireo({"program", kGood}, "kb2203");
    EXPECT_EQ(program.exit_code, 0) << shown(program);
    EXPECT_NE(program.out.find("==> Program Success!!"), std::string::npos) << shown(program);
    // Each progress line names its phase, and the first one starts at 0%.
    const size_t percent = program.err.find('%');
    ASSERT_NE(percent, std::string::npos) << program.err;
    const size_t line = program.err.rfind('\n', percent) + 1;
    EXPECT_EQ(program.err.substr(line, percent + 1 - line), "  Programming FPGA   0%")
        << program.err;
    EXPECT_NE(program.err.find("  Programming FPGA 100%"), std::string::npos) << program.err;

    const ProcessResult firmware = vireo({"--yes", "detect"}, "fx3-boot");
    EXPECT_EQ(firmware.exit_code, 0) << shown(firmware);
    EXPECT_NE(firmware.out.find("USBを抜き差ししてボードを再起動してください。"),
              std::string::npos);
    const ProcessResult declined = vireo({"detect"}, "fx3-boot");
    EXPECT_EQ(declined.exit_code, 1) << "no terminal to answer: declined\n" << shown(declined);

    // A reader that goes away after one line does not stop the configuration.
    const ProcessResult piped = vireo({"program", kGood}, "kb2203", 1);
    EXPECT_EQ(piped.signal, 0) << shown(piped);
    EXPECT_EQ(piped.exit_code, 0) << shown(piped);
}

TEST_F(Cli, StatusAndDetect) {
    const ProcessResult s7 = vireo({"status"}, "kb2203");
    EXPECT_EQ(s7.exit_code, 0) << shown(s7);
    EXPECT_NE(s7.out.find("FPGA is not configured (DONE low)"), std::string::npos) << shown(s7);
    EXPECT_NE(s7.out.find("USERCODE 0x"), std::string::npos) << shown(s7);
    const ProcessResult s6 = vireo({"status"}, "kb2201");
    EXPECT_EQ(s6.exit_code, 0) << shown(s6);
    EXPECT_NE(s6.out.find("Family: Spartan-6"), std::string::npos) << shown(s6);
    const ProcessResult stuck = vireo({"status"}, "kb2203,tdo=stuck1");
    EXPECT_EQ(stuck.exit_code, 1) << shown(stuck);

    const ProcessResult zynq = vireo({"detect"}, "zynq");
    EXPECT_EQ(zynq.exit_code, 1) << "the board's rule refuses the DAP at index 0\n" << shown(zynq);
    const size_t dap = zynq.out.find("#0  IDCODE 0x4BA00477  ARM_DAP");
    const size_t pl = zynq.out.find("#1  IDCODE 0x03727093  XC7Z020");
    const size_t verdict = zynq.out.find("Illegal device ARM_DAP was found.");
    ASSERT_NE(dap, std::string::npos) << shown(zynq);
    ASSERT_NE(pl, std::string::npos) << shown(zynq);
    EXPECT_LT(dap, pl);
    EXPECT_LT(pl, verdict);
    EXPECT_NE(verdict, std::string::npos);

    const ProcessResult pl_program =
        vireo({"program", "--device", "1", kBin + "/examples/example_xc7z020.bit"}, "zynq");
    EXPECT_EQ(pl_program.exit_code, 0) << shown(pl_program);
}

}  // namespace
}  // namespace vireo::test
