// The language of vireo's messages as a user gets it: the Japanese texts under a Japanese locale,
// English under every other one (and without any), --lang over the environment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kBin = VIREO_BIN_DIR;

// The first kana, CJK ideograph or full-width form in UTF-8 `text`, with what precedes it on its
// line; "" when there is none.
std::string first_japanese(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (length == 3 && i + 2 < text.size()) {
            const unsigned code =
                (c & 0x0Fu) << 12 | (text[i + 1] & 0x3Fu) << 6 | (text[i + 2] & 0x3Fu);
            if ((code >= 0x3000 && code <= 0x30FF) || (code >= 0x4E00 && code <= 0x9FFF) ||
                (code >= 0xFF00 && code <= 0xFFEF)) {
                const size_t line = text.rfind('\n', i);
                const size_t from = line == std::string::npos ? 0 : line + 1;
                return text.substr(from, text.find('\n', i) - from);
            }
        }
        i += static_cast<size_t>(length);
    }
    return "";
}

class Lang : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vireo_lang_" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "state");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // vireo on one kb2203 board (kept between runs) with only `locale` ("NAME=value ...") in its
    // environment; its exit status, then standard output and error together.
    std::pair<int, std::string> run(const std::string& locale,
                                    const std::vector<std::string>& args) {
        const std::string d = dir_.string();
        std::string command = "cd '" + d + "' && env -i PATH=/usr/bin:/bin HOME='" + d +
                              "' XDG_CACHE_HOME='" + d + "' VIREO_SIM=kb2203,state='" + d +
                              "/state' " + locale + " timeout -s KILL 120 '" + kBin + "/vireo'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command += " >out 2>&1 </dev/null; echo $? >code";
        EXPECT_NE(std::system(command.c_str()), -1);
        const auto read = [&](const char* name) {
            std::ifstream in(dir_ / name, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        const std::string code = read("code");
        return {code.empty() ? -1 : std::atoi(code.c_str()), read("out")};
    }

    fs::path dir_;
};

// Every command, its failures first, without any locale: not one Japanese character.
TEST_F(Lang, EnglishRunsOfEveryCommandPrintNoJapanese) {
    const std::string design = kBin + "/examples/example_xc7a100t.bit";
    const std::string bsdl = kBin + "/bsdl/xc7a100t_csg324.bsd";
    const std::string missing = (dir_ / "missing.bit").string();
    const std::string copy = (dir_ / "read.bin").string();
    const struct {
        std::vector<std::string> args;
        int code;
    } runs[] = {
        {{"flash", "program", missing}, 1},
        {{"flash", "verify", design}, 1},  // a blank flash: the mismatch and both dumps
        {{"flash", "read", "--offset", "1000001", copy}, 1},
        {{"program", missing}, 1},
        {{"detect"}, 0},
        {{"idcode"}, 0},
        {{"dna"}, 0},
        {{"program", design}, 0},
        {{"status"}, 0},
        {{"flash", "id"}, 0},
        {{"flash", "program", design}, 0},
        {{"flash", "verify", design}, 0},
        {{"flash", "blank"}, 1},  // holds the design
        {{"flash", "read", copy}, 0},
        {{"flash", "read", copy}, 1},  // exists: the question, answered no
        {{"flash", "erase"}, 0},
        {{"flash", "blank"}, 0},
        {{"bsdl", bsdl}, 0},
        {{"pins", "--bsdl", bsdl}, 0},
    };
    for (const auto& r : runs) {
        const auto [code, out] = run("", r.args);
        SCOPED_TRACE(r.args[0] + " " + (r.args.size() > 1 ? r.args[1] : "") + "\n" + out);
        EXPECT_EQ(code, r.code);
        EXPECT_EQ(first_japanese(out), "");
    }
}

// The first of LC_ALL, LC_MESSAGES and LANG that is set decides; --lang decides over all.
TEST_F(Lang, LocaleAndLangOptionChooseTheTexts) {
    const struct {
        std::string locale;
        std::vector<std::string> args;
        bool japanese;
    } cases[] = {
        {"LANG=ja_JP.UTF-8", {}, true},
        {"LC_ALL=ja_JP.eucJP LANG=C", {}, true},
        {"LC_ALL= LC_MESSAGES=ja LANG=en_US.UTF-8", {}, true},
        {"LC_MESSAGES=C LANG=ja_JP.UTF-8", {}, false},
        {"LC_ALL=POSIX LANG=ja_JP.UTF-8", {}, false},
        {"LANG=de_DE.UTF-8", {}, false},
        {"LANG=ja_JP.UTF-8", {"--lang", "en"}, false},
        {"LC_ALL=C", {"--lang", "ja"}, true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"flash", "id"});
        const auto [code, out] = run(c.locale, args);
        SCOPED_TRACE(c.locale + (c.args.empty() ? "" : " --lang " + c.args[1]) + "\n" + out);
        EXPECT_EQ(code, 0);
        if (c.japanese) {
            EXPECT_NE(out.find("Device idcode読み出し"), std::string::npos);
            EXPECT_NE(out.find("KB2203(ノーヴェルArtix-7ボード)を発見しました"), std::string::npos);
        } else {
            EXPECT_NE(out.find("Device idcode read"), std::string::npos);
            EXPECT_EQ(first_japanese(out), "");
        }
    }
    EXPECT_EQ(run("", {"--lang", "fr", "flash", "id"}).first, 2);
}

}  // namespace
