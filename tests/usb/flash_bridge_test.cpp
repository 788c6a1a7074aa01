// `vireo flash` on a board reached through libusb, as on hardware: the virtual board's bridge
// stand-in is never sent to such an FPGA; the refusal says what the file is and how to build a
// bridge, and the running design stays. (tests/xvc: a bridge the user built is found and used.)

#include <fstream>

#include "support/user_bridge.h"
#include "usb/usb_fixture.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

const std::string kBin = VIREO_BIN_DIR;

bool has(const VireoRun& r, const std::string& text) {
    return (r.out + r.err).find(text) != std::string::npos;
}

TEST_F(EmulatedUsbTest, FlashOnARealBoardNeverGetsTheVirtualBoardsStandIn) {
    // A board that runs a design of its user's.
    std::shared_ptr<sim::VirtualBoard> kb2203 = board("kb2203");
    sim::LoadedDesign design;
    design.configured = true;
    design.usercode = 0x12345678;
    kb2203->chain().find<sim::XilinxFpga>()->restore_design(design, 0);
    EmulatedDevice& dev = bus_->plug(kb2203, 1, 2);
    ASSERT_TRUE(configured(dev));
    const fs::path bridge = dir_ / ".local/share/vireojtag/spi_xc7a100t.bit";
    fs::create_directories(bridge.parent_path());
    fs::copy_file(kBin + "/virtual-board/spi_xc7a100t.bit", bridge);

    const VireoRun r = vireo({"flash", "id"});
    EXPECT_EQ(r.code, 1) << r.shown();
    EXPECT_TRUE(has(r, "The SPI bridge " + bridge.string() +
                           " is a stand-in for the virtual board (its header says "
                           "Synthetic=VirtualBoardOnly)"))
        << r.shown();
    EXPECT_TRUE(has(r, "-tclargs xc7a100t PACKAGE")) << r.shown();
    EXPECT_TRUE(configured(dev)) << "the running design stays";

    // A real bridge, but built for another part under this part's file name.
    fs::remove(bridge);
    const std::vector<uint8_t> other = user_built_bridge("XC7A200T");
    std::ofstream(bridge, std::ios::binary)
        .write(reinterpret_cast<const char*>(other.data()), std::ssize(other));
    const VireoRun wrong = vireo({"flash", "id"});
    EXPECT_EQ(wrong.code, 1) << wrong.shown();
    EXPECT_TRUE(has(wrong, "is for xc7a200t, the device is XC7A100T")) << wrong.shown();
    EXPECT_TRUE(has(wrong, "Nothing was sent to the FPGA: it keeps its design.")) << wrong.shown();
    EXPECT_TRUE(configured(dev)) << "the running design stays";
}

}  // namespace
}  // namespace vireo::test
