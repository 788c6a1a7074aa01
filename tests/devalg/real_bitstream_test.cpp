// Real Vivado and ISE bitstreams (Debian's openfpgaloader package) go through the whole path:
// bitfile_read, the family's Write sequence, the virtual FPGA's CRC checks, startup.
#include <zlib.h>

#include "devalg_fixture.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

const fs::path kRealBitstreams = "/usr/share/openFPGALoader";

std::vector<uint8_t> gunzip(const fs::path& path) {
    std::vector<uint8_t> out;
    gzFile gz = gzopen(path.c_str(), "rb");
    if (!gz) return out;
    uint8_t chunk[1 << 16];
    for (int n; (n = gzread(gz, chunk, sizeof chunk)) > 0;) out.insert(out.end(), chunk, chunk + n);
    gzclose(gz);
    return out;
}

// "spiOverJtag_xc7a100tcsg324.bit.gz" -> the virtual part XC7A100T.
const sim::XilinxPart* part_of(const std::string& file) {
    const std::string stem = file.substr(std::string("spiOverJtag_").size());
    return sim::find_xilinx_part(stem.substr(0, stem.find('.')));
}

using RealBitstream = DevalgTest;

TEST_F(RealBitstream, ConfigureTheirVirtualPartsThroughTheModules) {
    if (!fs::is_directory(kRealBitstreams)) GTEST_SKIP() << kRealBitstreams << " is missing";
    int configured = 0;
    for (const auto& entry : fs::directory_iterator(kRealBitstreams)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("spiOverJtag_xc") || !name.ends_with(".bit.gz")) continue;
        const sim::XilinxPart* part = part_of(name);
        if (!part) continue;
        const std::string path = write_file(name.substr(0, name.size() - 3), gunzip(entry.path()));
        Chain* chain = open(board({part->name}));
        chain_detect(chain);
        DevAlgModule* module = bind(chain, 0, path);
        if (!module || !module->state) continue;  // a part the modules do not program
        SCOPED_TRACE(name);
        printed().clear();
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().done());
        EXPECT_EQ(printed().find("CRC"), std::string::npos) << printed();
        ++configured;
    }
    EXPECT_GE(configured, 8) << "Spartan-6 and 7-series files of the supported parts";
}

}  // namespace
}  // namespace vireo::test
