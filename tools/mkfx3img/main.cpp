// mkfx3img: writes the virtual board's stand-in for the FX3 JTAG firmware as an FX3 .img file.
// The virtual boot loader accepts it; the real-hardware loader refuses it by its marker.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/fx3_bootloader.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr,
                     "usage: mkfx3img <output.img>\n"
                     "Writes the VireoJTAG virtual board's stand-in FX3 firmware image.\n"
                     "It is not firmware for real hardware.\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::error_code ec;
    if (out.has_parent_path()) std::filesystem::create_directories(out.parent_path(), ec);
    const std::vector<uint8_t> image = vireo::sim::fx3_stand_in_image();
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    if (!file.flush()) {
        std::fprintf(stderr, "mkfx3img: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
