// Real Vivado and ISE bitstreams (Debian's openfpgaloader package) go through the whole path:
// bitfile_read, the family's Write sequence, the virtual FPGA's CRC checks, startup.
#include <zlib.h>

#include "devalg_fixture.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;
using RealBitstream = DevalgTest;

std::vector<uint8_t> gunzip(const fs::path& path) {
    std::vector<uint8_t> out;
    uint8_t chunk[1 << 16];
    gzFile gz = gzopen(path.c_str(), "rb");
    for (int n; gz && (n = gzread(gz, chunk, sizeof chunk)) > 0;)
        out.insert(out.end(), chunk, chunk + n);
    if (gz) gzclose(gz);
    return out;
}

TEST_F(RealBitstream, ConfigureTheirVirtualPartsThroughTheModules) {
    const fs::path folder = "/usr/share/openFPGALoader";
    if (!fs::is_directory(folder)) GTEST_SKIP() << folder << " is missing";
    int configured = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        // "spiOverJtag_xc7a100tcsg324.bit.gz" -> the virtual part XC7A100T.
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("spiOverJtag_xc") || !name.ends_with(".bit.gz")) continue;
        const auto* part = sim::find_xilinx_part(name.substr(12, name.find('.') - 12));
        if (!part) continue;
        const std::string path = write_file(name.substr(0, name.size() - 3), gunzip(entry.path()));
        module_.reset();
        Chain* chain = open(board({part->name}));
        ASSERT_EQ(chain_detect(chain), JTAG_OK);
        if (!bind(chain, 0, path) || !module_->state) continue;  // a part the modules skip
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
