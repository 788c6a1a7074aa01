// Which SPI bridge file a flash command loads, decided before the FPGA is touched: a real FPGA
// never gets the virtual board's stand-in, the user's own build wins over the programs' folder,
// and each refusal says how to build one.
#include "app/bridge_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/bitgen.h"
#include "support/user_bridge.h"

namespace vireo::app {
namespace {

namespace fs = std::filesystem;

class BridgeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("vireo_bridge_" + std::to_string(::getpid()));
        fs::create_directories(root_ / "bin" / kVirtualBridgeFolder);
        fs::create_directories(root_ / "data");
        paths_.exe_dir = (root_ / "bin").string() + "/";
        paths_.user_data_dir = (root_ / "data").string() + "/";
    }
    void TearDown() override { fs::remove_all(root_); }

    static void write(const fs::path& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> stand_in(const char* part) {
        sim::BitgenOptions options;
        options.spi_bridge = true;
        return sim::make_bit_file(*sim::find_xilinx_part(part), options, "2026/01/02", "03:04");
    }
    static std::string joined(const BridgeFile& b) {
        std::string text;
        for (const std::string& line : b.refusal) text += line + "\n";
        return text;
    }

    fs::path root_;
    AppPaths paths_;
};

// (The refusal of a stand-in on a real board: tests/usb; a user's bridge through --xvc: tests/xvc.)
TEST_F(BridgeFileTest, RealFpgasTakeTheUsersBuildFirstAndTheVirtualBoardOnlyItsStandIns) {
    BridgeFile b = find_bridge_file(paths_, "spi_xc6slx16.bit", "XC6SLX16", false);
    EXPECT_TRUE(b.path.empty());
    EXPECT_NE(joined(b).find("No SPI bridge for XC6SLX16: spi_xc6slx16.bit is not in " +
                             paths_.user_data_dir + " or " + paths_.exe_dir + ".\nBuild one "),
              std::string::npos)
        << joined(b);
    EXPECT_NE(joined(b).find("xtclsh /"), std::string::npos) << "an absolute script path";
    EXPECT_NE(joined(b).find("hdl/bridge/build.tcl xc6slx16 PACKAGE"), std::string::npos);
    // build.tcl knows no Zynq: no command that cannot work, but why and what to add.
    b = find_bridge_file(paths_, "spi_xc7z020.bit", "XC7Z020", false);
    EXPECT_EQ(joined(b).find("-tclargs"), std::string::npos) << joined(b);
    EXPECT_NE(joined(b).find("boot flash usually hangs on its processor system"),
              std::string::npos);

    write(root_ / "data" / "spi_xc7a100t.bit", {'n', 'o', 'i', 's', 'e'});
    b = find_bridge_file(paths_, "spi_xc7a100t.bit", "XC7A100T", false);
    EXPECT_NE(joined(b).find("cannot be loaded"), std::string::npos) << joined(b);
    EXPECT_TRUE(b.path.empty());

    // The user's own build before the programs' folder; the virtual board takes neither.
    write(root_ / "data" / "spi_xc7a100t.bit", test::user_built_bridge("XC7A100T"));
    write(root_ / "bin" / "spi_xc7a100t.bit", stand_in("XC7A100T"));
    b = find_bridge_file(paths_, "spi_xc7a100t.bit", "XC7A100T", false);
    EXPECT_EQ(b.path, paths_.user_data_dir + "spi_xc7a100t.bit");
    EXPECT_EQ(b.design, "vireo_bridge_s7");
    b = find_bridge_file(paths_, "spi_xc7a100t.bit", "XC7A100T", true);
    EXPECT_NE(joined(b).find("virtual board's SPI bridge " + paths_.exe_dir + kVirtualBridgeFolder +
                             "spi_xc7a100t.bit is missing"),
              std::string::npos)
        << joined(b);
    write(root_ / "bin" / kVirtualBridgeFolder / "spi_xc7a100t.bit", stand_in("XC7A100T"));
    b = find_bridge_file(paths_, "spi_xc7a100t.bit", "XC7A100T", true);
    EXPECT_EQ(b.path, paths_.exe_dir + kVirtualBridgeFolder + "spi_xc7a100t.bit");
}

}  // namespace
}  // namespace vireo::app
