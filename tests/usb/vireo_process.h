// The built vireo run as a process, in a scratch folder, with an environment of its own.
#pragma once

#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vireo::test {

struct VireoRun {
    int code = -1;
    std::string out, err;
    std::string shown() const {
        return "exit " + std::to_string(code) + "\n--- out\n" + out + "--- err\n" + err;
    }
};

// Starts vireo with `args` and `env` ("NAME=value ...") under a Japanese locale (the cases check
// Japanese texts), in the background when `tag` is not empty (collect with wait_vireo), bounded
// by timeout(1).
inline std::string vireo_command(const std::filesystem::path& dir, const std::string& tag,
                                 const std::vector<std::string>& args, const std::string& env) {
    const std::string d = dir.string();
    std::string command = "cd '" + d + "' && env -i PATH=/usr/bin:/bin LANG=ja_JP.UTF-8 HOME='" +
                          d + "' XDG_CACHE_HOME='" + d + "' " + env + " timeout -s KILL 120 '" +
                          VIREO_BIN_DIR + "/vireo'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    return command + " >out" + tag + " 2>err" + tag + " </dev/null; echo $? >code" + tag;
}

inline VireoRun collect(const std::filesystem::path& dir, const std::string& tag) {
    auto read = [&](const std::string& name) {
        std::ifstream in(dir / (name + tag), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string code = read("code");
    return {code.empty() ? -1 : std::atoi(code.c_str()), read("out"), read("err")};
}

// A real Vivado bitstream for a part and package ("xc7a100tcsg324") from Debian's openfpgaloader
// package, unpacked into `dir`.
inline std::string vendor_bitstream(const std::filesystem::path& dir, const std::string& part) {
    const std::string name = "spiOverJtag_" + part + ".bit";
    gzFile in = gzopen(("/usr/share/openFPGALoader/" + name + ".gz").c_str(), "rb");
    std::ofstream out(dir / name, std::ios::binary);
    char buffer[65536];
    for (int n; in && (n = gzread(in, buffer, sizeof buffer)) > 0;) out.write(buffer, n);
    if (in) gzclose(in);
    return (dir / name).string();
}

inline VireoRun run_vireo(const std::filesystem::path& dir, const std::vector<std::string>& args,
                          const std::string& env) {
    if (std::system(vireo_command(dir, "", args, env).c_str()) == -1) return {};
    return collect(dir, "");
}

}  // namespace vireo::test
