#include <algorithm>

#include "devalg/sequence.h"
#include "devalg_fixture.h"
#include "sim/arm_dap.h"

namespace vireo::test {
namespace {

using Spartan6Test = DevalgTest;

TEST_F(Spartan6Test, EveryPartConfiguresFromAFullImage) {
    for (const char* part :
         {"XC6SLX4", "XC6SLX9", "XC6SLX16", "XC6SLX25", "XC6SLX25T", "XC6SLX45", "XC6SLX45T",
          "XC6SLX75", "XC6SLX75T", "XC6SLX100", "XC6SLX100T", "XC6SLX150", "XC6SLX150T"}) {
        SCOPED_TRACE(part);
        ASSERT_TRUE(bind({part}, 0, bit_file(part)));
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().done());
        EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
        EXPECT_EQ(cable().lock_requests.back(), 0) << "cable lock released";
        EXPECT_EQ(printed(), "");
    }
}

TEST_F(Spartan6Test, ImageGoesInPiecesAndTheDeviceIsNotJudged) {
    bind({"XC6SLX16"}, 0, raw_bit_file("small.bit", std::vector<uint8_t>(2049, 0x5A)));
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
    EXPECT_FALSE(fpga()->engine().done());
    const std::vector<Progress> expected = {{1, 2, "Programming FPGA"},
                                            {1, 2, "Programming FPGA"},
                                            {16384, 16392, "Programming FPGA"},
                                            {16392, 16392, "Programming FPGA"},
                                            {0, 0, ""}};
    EXPECT_EQ(g_progress, expected);
}

TEST_F(Spartan6Test, PadBringsTheBypassBitsToAWordBoundary) {
    EXPECT_EQ(chain_pad(1), 0);
    EXPECT_EQ(chain_pad(2), 31);
    EXPECT_EQ(chain_pad(33), 0);
    // 32 devices before the FPGA: block A goes out unpadded and the image still arrives.
    auto b = std::make_unique<sim::TapChain>(30'000'000);
    for (int i = 0; i < 32; ++i) b->add(std::make_unique<sim::ArmDap>());
    b->add(std::make_unique<sim::XilinxFpga>(*sim::find_xilinx_part("XC6SLX4")));
    Chain* chain = open(std::move(b));
    ASSERT_EQ(chain_detect(chain), 1);
    bind(chain, 32, bit_file("XC6SLX4"));
    cable().record_shifts = true;
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
    EXPECT_TRUE(fpga()->engine().done());
    const auto& shifts = cable().shifts;
    const auto cfg_in = std::find_if(shifts.begin(), shifts.end(),
                                     [](const auto& s) { return s.label == "cfg_in"; });
    ASSERT_LT(cfg_in + 1, shifts.end());
    ASSERT_EQ(cfg_in[1].tdi.size(), 192u + 32u);
    EXPECT_EQ(std::count(cfg_in[1].tdi.begin(), cfg_in[1].tdi.begin() + 32, 1), 32)
        << "the dummy word leaves first";
}

TEST_F(Spartan6Test, CancelThenWriteAgainThenShutdown) {
    bind({"XC6SLX9"}, 0, bit_file("XC6SLX9"));
    g_on_progress = [this](int current) {
        EXPECT_TRUE(chain_is_locked(module_->chain)) << "held through the identity check";
        if (current == 3 * 16384)
            devalg_entry<DevAlgStatusFn>(module_.get(), DEVALG_CANCEL)(module_.get());
    };
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_CANCELLED);
    ASSERT_GE(g_progress.size(), 2u);
    EXPECT_EQ(std::get<0>(g_progress.end()[-2]), 3 * 16384) << "the piece under way was the last";
    EXPECT_FALSE(fpga()->engine().done());
    EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
    EXPECT_EQ(stored_status(), JTAG_CANCELLED);
    EXPECT_EQ(cable().lock_requests.back(), 0);

    g_on_progress = nullptr;
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK) << "the next Write runs again";
    EXPECT_TRUE(fpga()->engine().done());
    g_progress.clear();
    EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_OK);
    EXPECT_FALSE(fpga()->engine().done());
    EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
    EXPECT_EQ(g_progress, std::vector<Progress>{Progress(0, 0, "")});
}

TEST_F(Spartan6Test, FilesAndChainsThatAreRefused) {
    Chain* chain = detected({"XC6SLX4"});
    std::vector<uint8_t> bytes = bit_bytes("XC6SLX4");
    const std::string upper = write_file("GOOD.BIT", bytes);
    const std::string no_dot = write_file("image_without_extension", bytes);
    bytes.resize(bytes.size() - 100);
    const std::string cut = write_file("cut.bit", bytes);
    const std::pair<std::string, std::string> refused[] = {
        {write_file("image.bin", bytes), "Not bitstream file.\n"},
        {no_dot, "Bit file format error\n"},
        {cut, "Input file '" + cut + "' exceeds device size.Bit file format error\n"}};
    for (const auto& [path, message] : refused) {
        SCOPED_TRACE(path);
        bind(chain, 0, path);
        printed().clear();
        cable().labels.clear();
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_FILE_OPEN);
        EXPECT_EQ(printed(), message);
        EXPECT_EQ(stored_status(), JTAG_FILE_OPEN);
        EXPECT_EQ(std::count(cable().labels.begin(), cable().labels.end(), "jprogram"), 0);
    }
    bind(chain, 0, upper);
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
    EXPECT_TRUE(fpga()->engine().done());

    // The chain believes in an XC6SLX16: the identity check stops Write and Shutdown.
    ASSERT_EQ(device_set_part(chain_get_device(chain, 0), "XC6SLX16"), 1);
    bind(chain, 0, upper);
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_CHECK_DEVICES);
    EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_CHECK_DEVICES);
    EXPECT_EQ(stored_status(), JTAG_CHECK_DEVICES);
    EXPECT_TRUE(fpga()->engine().done()) << "untouched";
}

}  // namespace
}  // namespace vireo::test
