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

    // vireo with `args` in an environment of its own plus `env` ("VIREO_SIM=..."), bounded by
    // timeout(1). `head` gives its standard output a reader that goes away after one line.
    Outcome vireo(const std::vector<std::string>& args, const std::string& env, bool head = false) {
        const std::string d = dir_.string();
        std::string command = "cd '" + d + "' && { env -i PATH=/usr/bin:/bin HOME='" + d +
                              "' XDG_CACHE_HOME='" + d + "' " + env + " timeout -s KILL 120 '" +
                              kBin + "/vireo'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command +=
            " 2>err </dev/null; echo $? >code; }" + std::string(head ? " | head -1" : "") + " >out";
        EXPECT_NE(std::system(command.c_str()), -1);
        const std::string code = read_text(dir_ / "code");
        return {code.empty() ? -1 : std::stoi(code), read_text(dir_ / "out"),
                read_text(dir_ / "err")};
    }
    Outcome on(const std::string& board, const std::vector<std::string>& args, bool head = false) {
        return vireo(args, "VIREO_SIM=" + board + ",state=" + dir_.string(), head);
    }
    std::string save(const std::string& name, const std::vector<char>& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return (dir_ / name).string();
    }

    fs::path dir_;
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
        {save("truncated.bit", truncated), "exceeds device size"},
        {kBin + "/examples/example_xc7s50.bit", "ID エラー"},  // another part's image
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

}  // namespace
