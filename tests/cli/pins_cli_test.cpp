// `vireo bsdl` and `vireo pins` as a user runs them: the built program, the BSDL files the build
// wrote for the virtual FPGAs, a fresh virtual board for each run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kBin = VIREO_BIN_DIR;
const std::string kA100t = kBin + "/bsdl/xc7a100t_csg324.bsd";
const std::string kLx16 = kBin + "/bsdl/xc6slx16_csg324.bsd";

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Outcome {
    int code = -1;
    std::string out, err;
    std::string shown() const {
        return "exit " + std::to_string(code) + "\n--- out\n" + out + "--- err\n" + err;
    }
    bool says(const std::string& text) const {
        return out.find(text) != std::string::npos || err.find(text) != std::string::npos;
    }
    // The table row of a port: "PIN  PORT  TYPE  CELLS  STATE" squeezed to single blanks.
    std::string row(const std::string& port) const {
        size_t at = out.find("  " + port + " ");
        if (at == std::string::npos) return "";
        at = out.rfind('\n', at) + 1;
        std::string line = out.substr(at, out.find('\n', at) - at), squeezed;
        for (char c : line) {
            if (c != ' ' || (squeezed.size() && squeezed.back() != ' ')) squeezed += c;
        }
        return squeezed;
    }
};

class PinsCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vireo_pins_cli_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // vireo with `args` in an environment of its own, without a terminal, on `board` ("" for
    // none): fresh, or kept in the state folder named `state` from one run to the next.
    Outcome vireo(const std::vector<std::string>& args, const std::string& board = "",
                  const std::string& state_name = "") {
        const std::string d = dir_.string();
        std::string env;
        if (!board.empty()) {
            const fs::path state =
                dir_ / (state_name.empty() ? "state" + std::to_string(++runs_) : state_name);
            fs::create_directories(state);
            env = "VIREO_SIM=" + board + ",state=" + state.string();
        }
        std::string command = "cd '" + d + "' && { env -i PATH=/usr/bin:/bin HOME='" + d +
                              "' XDG_CACHE_HOME='" + d + "' " + env + " timeout -s KILL 120 '" +
                              kBin + "/vireo'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command += " >out 2>err </dev/null; echo $? >code; }";
        EXPECT_NE(std::system(command.c_str()), -1);
        const std::string code = read_text(dir_ / "code");
        return {code.empty() ? -1 : std::stoi(code), read_text(dir_ / "out"),
                read_text(dir_ / "err")};
    }
    std::string save(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name) << text;
        return (dir_ / name).string();
    }

    fs::path dir_;
    int runs_ = 0;
};

TEST_F(PinsCli, SampleShowsEveryPinOfTheVirtualArtix) {
    const Outcome r = vireo({"pins", "--bsdl", kA100t}, "kb2203");
    ASSERT_EQ(r.code, 0) << r.shown();
    EXPECT_TRUE(
        r.says("device 0: XC7A100T_CSG324, package CSG324 (324 pins), 762 boundary "
               "cells, SAMPLE\nPIN  PORT"))
        << r.shown();
    EXPECT_EQ(r.row("BTN0"), "A5 BTN0 BIDIR 1/2/0 input 1") << r.shown();
    EXPECT_EQ(r.row("SW0"), "A8 SW0 BIDIR 10/11/9 input 0");
    EXPECT_EQ(r.row("TCK"), "A1 TCK JTAG - -");
    EXPECT_EQ(r.row("GND(1)").substr(0, 13), "A12 GND(1) GN");
    const std::string table = r.out.substr(r.out.find("PIN  PORT"));
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 325) << "a header and 324 pins";
}

TEST_F(PinsCli, ExtestDrivesPinsAndShowsTheConflict) {
    const Outcome r = vireo({"pins", "--bsdl", kA100t, "--extest", "--yes", "--set", "LED0=1",
                             "--set", "SW0=1", "--set", "@A9=0", "--set", "BTN0=z"},
                            "kb2203");
    ASSERT_EQ(r.code, 0) << r.shown();
    EXPECT_TRUE(r.says("762 boundary cells, EXTEST")) << r.shown();
    EXPECT_EQ(r.row("LED0"), "A7 LED0 BIDIR 7/8/6 output 1") << r.shown();
    EXPECT_EQ(r.row("SW0"), "A8 SW0 BIDIR 10/11/9 conflict 0") << "tied to ground";
    EXPECT_EQ(r.row("IO_4"), "A9 IO_4 BIDIR 13/14/12 output 0") << "named by its pin";
    EXPECT_EQ(r.row("BTN0"), "A5 BTN0 BIDIR 1/2/0 input 1") << "released: the pull-up reads";
    EXPECT_TRUE(r.says("The device stays in EXTEST"));
}

TEST_F(PinsCli, TheSpartan6BoardAndTheWrongDescription) {
    Outcome r = vireo({"pins", "--bsdl", kLx16}, "kb2201");
    ASSERT_EQ(r.code, 0) << r.shown();
    EXPECT_TRUE(
        r.says("device 0: XC6SLX16_CSG324, package CSG324 (324 pins), 448 boundary "
               "cells, SAMPLE"))
        << r.shown();
    EXPECT_EQ(r.row("BTN0"), "A5 BTN0 BIDIR 1/2/0 input 1") << r.shown();

    r = vireo({"pins", "--bsdl", kA100t}, "kb2201");
    EXPECT_EQ(r.code, 1) << r.shown();
    EXPECT_TRUE(
        r.says("describes XC7A100T_CSG324 (IDCODE 03631093), but device 0 is XC6SLX16 "
               "(IDCODE 04002093)"))
        << r.shown();
    EXPECT_FALSE(r.says("PIN  PORT"));
}

// A description whose BOUNDARY_LENGTH is not the register counted on the wire is refused before
// any pin is read or driven; a chain that gives no marker back is a failure, never a table.
TEST_F(PinsCli, BoundaryLengthMustBeTheDevicesOwn) {
    const std::string text = read_text(kA100t);
    const std::string good = "BOUNDARY_LENGTH of XC7A100T_CSG324 : entity is 762;";
    ASSERT_NE(text.find(good), std::string::npos);
    for (const std::string length : {"20000", "761"}) {
        std::string changed = text;
        changed.replace(changed.find(good) + good.size() - 4, 3, length);
        const std::string bad = save("xc7a100t_bad.bsd", changed);
        const Outcome r = vireo({"pins", "--bsdl", bad}, "kb2203");
        EXPECT_EQ(r.code, 1) << r.shown();
        EXPECT_TRUE(r.says(bad + " describes " + length +
                           " boundary cells, the device XC7A100T has 762: refused, no pin is "
                           "driven"))
            << r.shown();
        EXPECT_FALSE(r.says("PIN  PORT")) << r.shown();
    }
    for (const char* tdo : {"stuck0", "stuck1"}) {
        const Outcome r = vireo({"pins", "--bsdl", kA100t}, std::string("kb2203,tdo=") + tdo);
        EXPECT_EQ(r.code, 1) << r.shown();
        EXPECT_FALSE(r.says("PIN  PORT")) << r.shown();
    }
    // Behind the Zynq's ARM DAP, whose BYPASS bit the count leaves out.
    const Outcome r =
        vireo({"--device", "1", "pins", "--bsdl", kBin + "/bsdl/xc7z020_clg400.bsd"}, "zynq");
    ASSERT_EQ(r.code, 0) << r.shown();
    EXPECT_TRUE(
        r.says("device 1: XC7Z020_CLG400, package CLG400 (400 pins), 654 boundary cells, "
               "SAMPLE"))
        << r.shown();
}

// A description is only trusted with the instructions the device database gives the part: one
// that gives SAMPLE/PRELOAD or EXTEST the opcode of JPROGRAM would erase the design. Refused
// before any of its instructions is loaded, the loaded design still runs afterwards.
TEST_F(PinsCli, BoundaryInstructionsMustBeTheDevicesOwn) {
    Outcome r = vireo({"program", kBin + "/examples/example_xc7a100t.bit"}, "kb2203", "design");
    ASSERT_EQ(r.code, 0) << r.shown();
    const std::string text = read_text(kA100t);
    auto changed = [&](const std::string& name, const std::string& code) {
        std::string t = text;
        const size_t at = t.find("\"" + name + " (");
        EXPECT_NE(at, std::string::npos) << name;
        if (at != std::string::npos) t.replace(at + name.size() + 3, 6, code);
        return t;
    };
    std::string sample = changed("SAMPLE", "001011");
    sample.replace(sample.find("\"PRELOAD (") + 10, 6, "001011");
    const struct {
        std::string file;
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {save("sample_jprogram.bsd", sample),
         {},
         "sample_jprogram.bsd gives SAMPLE the opcode 001011, the device XC7A100T's is 000001: "
         "refused, no instruction of the description is loaded"},
        {save("extest_jprogram.bsd", changed("EXTEST", "001011")),
         {"--extest", "--yes", "--set", "LED0=1"},
         "extest_jprogram.bsd gives EXTEST the opcode 001011, the device XC7A100T's is 100110"},
        {save("bypass_jshutdown.bsd", changed("BYPASS", "001101")),
         {},
         "gives BYPASS the opcode 001101, the device XC7A100T's is 111111"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"pins", "--bsdl", c.file};
        args.insert(args.end(), c.args.begin(), c.args.end());
        r = vireo(args, "kb2203", "design");
        EXPECT_EQ(r.code, 1) << r.shown();
        EXPECT_TRUE(r.says(c.said)) << r.shown();
        EXPECT_FALSE(r.says("PIN  PORT") || r.says("[EXTEST]")) << r.shown();
        r = vireo({"status"}, "kb2203", "design");
        EXPECT_TRUE(r.says("FPGA is configured (DONE high)")) << c.file << "\n" << r.shown();
    }
}

// Every --set is checked against the description before the question, each pin is set once, and
// a file the reader found errors in shows its table but drives nothing.
TEST_F(PinsCli, SettingsAndTheFileAreCheckedBeforeEXTEST) {
    Outcome r = vireo({"program", kBin + "/examples/example_xc7a100t.bit"}, "kb2203", "design");
    ASSERT_EQ(r.code, 0) << r.shown();
    std::string text = read_text(kA100t);
    const std::string capture = "INSTRUCTION_CAPTURE of XC7A100T_CSG324";
    text.replace(text.find(capture) + capture.size() - 15, 15, "OTHER");
    const std::string flawed = save("flawed.bsd", text);
    const struct {
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {{"--bsdl", kA100t, "--extest", "-y", "--set", "NOPE=1"},
         "NOPE: no such port or pin in the description"},
        {{"--bsdl", kA100t, "--extest", "-y", "--set", "LED0=1", "--set", "@a7=0"},
         "LED0 and @a7 both set pin A7: set each pin once"},
        {{"--bsdl", flawed, "--extest", "-y", "--set", "LED0=1"},
         "flawed.bsd: the BSDL reader reported 1 error in the file, so its cells may not be the "
         "device's: EXTEST is refused, no pin is driven"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"pins"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        r = vireo(args, "kb2203", "design");
        EXPECT_EQ(r.code, 1) << r.shown();
        EXPECT_TRUE(r.says(c.said)) << r.shown();
        EXPECT_FALSE(r.says("[EXTEST]")) << "refused before the question\n" << r.shown();
        EXPECT_FALSE(r.says("PIN  PORT")) << r.shown();
        r = vireo({"status"}, "kb2203", "design");
        EXPECT_TRUE(r.says("FPGA is configured (DONE high)")) << r.shown();
    }
    r = vireo({"pins", "--bsdl", flawed}, "kb2203");
    ASSERT_EQ(r.code, 0) << r.shown();
    EXPECT_TRUE(r.says("762 boundary cells, SAMPLE\nThe BSDL file had 1 error (see the log)"))
        << r.shown();
    EXPECT_EQ(r.row("BTN0"), "A5 BTN0 BIDIR 1/2/0 input 1");
}

// On a terminal (script(1) gives one) --watch redraws until Ctrl-C, moving pins first.
TEST_F(PinsCli, WatchRedrawsWithTheClockOnTop) {
    const fs::path state = dir_ / "watch_state";
    fs::create_directories(state);
    const std::string command =
        "cd '" + dir_.string() + "' && env -i PATH=/usr/bin:/bin HOME='" + dir_.string() +
        "' VIREO_SIM=kb2203,state='" + state.string() +
        "' script -qec \"stty rows 30 cols 120; timeout --preserve-status -s INT 3 '" + kBin +
        "/vireo' pins --bsdl '" + kA100t + "' --watch; echo exit=\\$?\" /dev/null >out 2>&1";
    ASSERT_NE(std::system(command.c_str()), -1);
    const std::string out = read_text(dir_ / "out");
    const size_t last = out.rfind("\x1b[H\x1b[J");
    ASSERT_NE(last, std::string::npos) << out;
    const std::string screen = out.substr(last);
    const size_t header = screen.find("PIN  PORT");
    ASSERT_NE(header, std::string::npos) << screen;
    const std::string first = screen.substr(screen.find('\n', header) + 1, 60);
    EXPECT_EQ(first.substr(0, 9), "A6   CLK0") << screen;
    EXPECT_EQ(screen.find("GND("), std::string::npos) << "pins without cells left out";
    EXPECT_NE(screen.find("more pins"), std::string::npos) << "cut to the terminal's height";
    EXPECT_NE(out.find("exit=0"), std::string::npos) << "Ctrl-C ends the watch: success\n" << out;
}

TEST_F(PinsCli, RefusalsAndFailuresExitWithTheirCodes) {
    const struct {
        std::vector<std::string> args;
        int code;
        std::string said;
    } cases[] = {
        {{"pins", "--bsdl", kA100t, "--watch"}, 2, "--watch redraws the table in place"},
        {{"pins", "--bsdl", kA100t, "--extest"}, 2, "confirm it on a terminal or give --yes"},
        {{"pins", "--bsdl", kA100t, "--set", "LED0=1"}, 2, "--set requires --extest"},
        {{"pins", "--bsdl", kA100t, "--extest", "--set", "LED0=2"}, 2, "not 0, 1 or z"},
        {{"pins"}, 2, "--bsdl is required"},
        {{"pins", "--bsdl", kA100t, "--extest", "-y", "--set", "TCK=1"},
         1,
         "TCK (pin A1) has no output cell: it cannot be driven"},
        {{"pins", "--bsdl", "missing.bsd"}, 1, "missing.bsd: not a readable file"},
    };
    for (const auto& c : cases) {
        const Outcome r = vireo(c.args, "kb2203");
        EXPECT_EQ(r.code, c.code) << c.said << "\n" << r.shown();
        EXPECT_TRUE(r.says(c.said)) << r.shown();
    }
}

TEST_F(PinsCli, BsdlPrintsTheDescriptionAndItsErrors) {
    Outcome r = vireo({"bsdl", kLx16});
    ASSERT_EQ(r.code, 0) << r.shown();
    EXPECT_EQ(r.out.substr(0, 57), "Name:XC6SLX16_CSG324\nPackage:CSG324\nIDCODE:04002093\nUSERC");
    EXPECT_TRUE(r.says("\nInstuction 1/20 name:EXTEST code:F\n")) << r.shown();
    EXPECT_TRUE(r.says("pin name:\"LED0\" num:\"A7\" outcell:7 incell:8 contcell:6\n"));
    EXPECT_TRUE(r.says("\ncell 0447 "));

    const std::string bad = save("bad.bsd",
                                 "entity E is generic (PHYSICAL_PIN_MAP : string := \"P\");\n"
                                 "\n"
                                 "attribute BOUNDARY_LENGTH of F : entity is 1;\n");
    r = vireo({"bsdl", bad});
    EXPECT_EQ(r.code, 0) << r.shown();
    EXPECT_TRUE(r.says("BSDL format error in file:" + bad +
                       " (line 3): errcode=1\n"
                       "'F' is not equal to entity name 'E'.\n"))
        << r.shown();

    r = vireo({"bsdl", save("none.bsd", "-- nothing here\n")});
    EXPECT_EQ(r.code, 1) << r.shown();
    EXPECT_EQ(r.out, "Can not open bsdl file\n");
    r = vireo({"bsdl", "missing.bsd"});
    EXPECT_EQ(r.code, 1) << r.shown();
    EXPECT_TRUE(r.says("missing.bsd: not a readable file"));
}

}  // namespace
