// mkbsdl: writes the BSDL description of each virtual FPGA, from the pad table the virtual board
// models, into a folder as <part>_<package>.bsd.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/boundary_layout.h"
#include "sim/xilinx_parts.h"

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(
            stderr,
            "usage: mkbsdl <folder>\n"
            "Writes <part>_<package>.bsd for every FPGA of the VireoJTAG virtual board.\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        std::fprintf(stderr, "mkbsdl: %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    for (const vireo::sim::XilinxPart& part : vireo::sim::xilinx_parts()) {
        const std::filesystem::path path =
            folder / (lower(part.name) + "_" + lower(part.package) + ".bsd");
        // Written beside and renamed, so a reader never sees half a file.
        const std::filesystem::path partial = path.string() + ".part";
        {
            std::ofstream out(partial, std::ios::binary | std::ios::trunc);
            out << vireo::sim::boundary_bsdl(part);
            if (!out.flush()) {
                std::fprintf(stderr, "mkbsdl: cannot write %s\n", partial.c_str());
                return 1;
            }
        }
        std::filesystem::rename(partial, path, ec);
        if (ec) {
            std::fprintf(stderr, "mkbsdl: %s: %s\n", path.c_str(), ec.message().c_str());
            return 1;
        }
    }
    return 0;
}
