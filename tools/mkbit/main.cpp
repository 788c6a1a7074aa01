// mkbit: writes synthetic .bit files for the virtual board (zero frame data, valid packets and
// CRCs), with the SPI-bridge signature or with deliberate faults for tests.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/bitgen.h"
#include "sim/xilinx_parts.h"

namespace {

const char* const kUsage =
    "usage: mkbit [options] <part> <output.bit>\n"
    "Writes a synthetic configuration bitstream for the VireoJTAG virtual board.\n"
    "It carries zero frame data and is never a design for a real FPGA.\n"
    "\n"
    "  <part>              XC6SLX4 ... XC6SLX150T, XC7A35T ... XC7Z020 (any case, package ok)\n"
    "  --bridge            carry the SPI-bridge signature\n"
    "  --name NAME         design name in the header (default vireo_synthetic)\n"
    "  --usercode HEX      UserID in the header's design string (default FFFFFFFF)\n"
    "  --date YYYY/MM/DD   header date (default 2000/01/01, for reproducible builds)\n"
    "  --time HH:MM:SS     header time (default 00:00:00)\n"
    "faults:\n"
    "  --bad-crc           first CRC check carries a wrong value\n"
    "  --wrong-idcode      IDCODE packet names another die\n"
    "  --no-sync           no sync word\n"
    "  --truncate N        drop the last N bytes of the image\n"
    "  --bad-status        no LFRM and no START: the design never starts\n"
    "variants:\n"
    "  --compress          repeated frames as MFW/MFWR (7-series)\n"
    "  --jtag-startup      startup clocked by TCK after JSTART instead of CCLK\n"
    "  --help              this text\n";

int usage_error(const std::string& why) {
    std::fprintf(stderr, "mkbit: %s\n%s", why.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vireo::sim;
    BitgenOptions opt;
    std::string date = "2000/01/01", time = "00:00:00";
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--bridge") {
            opt.spi_bridge = true;
        } else if (arg == "--bad-crc") {
            opt.bad_crc = true;
        } else if (arg == "--wrong-idcode") {
            opt.wrong_idcode = true;
        } else if (arg == "--no-sync") {
            opt.no_sync = true;
        } else if (arg == "--bad-status") {
            opt.bad_status = true;
        } else if (arg == "--compress") {
            opt.compress = true;
        } else if (arg == "--jtag-startup") {
            opt.jtag_startup_clock = true;
        } else if (arg == "--name" || arg == "--usercode" || arg == "--truncate" ||
                   arg == "--date" || arg == "--time") {
            const char* v = value();
            if (!v) return usage_error(arg + " needs a value");
            char* end = nullptr;
            if (arg == "--name") opt.design_name = v;
            if (arg == "--date") date = v;
            if (arg == "--time") time = v;
            if (arg == "--usercode")
                opt.usercode = static_cast<uint32_t>(std::strtoul(v, &end, 16));
            if (arg == "--truncate") opt.truncate_bytes = std::strtoul(v, &end, 10);
            if (end && *end) return usage_error("bad number for " + arg + ": " + v);
        } else if (!arg.empty() && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return usage_error("need a part and an output file");
    const XilinxPart* part = find_xilinx_part(positional[0]);
    if (!part) return usage_error("unknown part " + positional[0]);

    const std::vector<uint8_t> bit = make_bit_file(*part, opt, date, time);
    const std::filesystem::path out = positional[1];
    std::error_code ec;
    if (out.has_parent_path()) std::filesystem::create_directories(out.parent_path(), ec);
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bit.data()), static_cast<std::streamsize>(bit.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "mkbit: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
