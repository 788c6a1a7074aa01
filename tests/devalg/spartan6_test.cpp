#include <algorithm>
#include <filesystem>

#include "devalg/sequence.h"
#include "devalg_fixture.h"
#include "jtag/status.h"
#include "sim/arm_dap.h"

namespace vireo::test {
namespace {

using Spartan6Test = DevalgTest;

const char* const kSpartan6Parts[] = {
    "XC6SLX4",   "XC6SLX9",   "XC6SLX16",  "XC6SLX25",   "XC6SLX25T", "XC6SLX45",  "XC6SLX45T",
    "XC6SLX75",  "XC6SLX75T", "XC6SLX100", "XC6SLX100T", "XC6SLX150", "XC6SLX150T",
};

TEST_F(Spartan6Test, EveryPartConfiguresFromAFullImage) {
    for (const char* part : kSpartan6Parts) {
        SCOPED_TRACE(part);
        Chain* chain = detected({part});
        BindingPtr module = bind(chain, 0, bit_file(part));
        ASSERT_TRUE(module);
        ASSERT_TRUE(module->state);
        EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().done());
        EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
        EXPECT_EQ(device_devopt(chain_get_device(chain, 0))->status, JTAG_OK);
        EXPECT_FALSE(chain_is_locked(chain));
        EXPECT_EQ(cable_state().lock_requests.back(), 0) << "cable lock released";
        EXPECT_EQ(printed(), "");
    }
}


TEST_F(Spartan6Test, ImagePiecesAndProgressWithoutJudgingTheDevice) {
    Chain* chain = detected({"XC6SLX16"});
    BindingPtr module = bind(chain, 0, raw_bit_file("small.bit", std::vector<uint8_t>(2049, 0x5A)));
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK) << "no read-back on Spartan-6";
    EXPECT_FALSE(fpga()->engine().done());
    const std::vector<Progress> expected = {
        {1, 2, "Programming FPGA"},         {1, 2, "Programming FPGA"},
        {16384, 16392, "Programming FPGA"}, {16392, 16392, "Programming FPGA"},
        {0, 0, ""},
    };
    EXPECT_EQ(progress_log(), expected);
}

TEST_F(Spartan6Test, PadBringsTheBypassBitsToAWordBoundary) {
    EXPECT_EQ(chain_pad(1), 0);
    EXPECT_EQ(chain_pad(2), 31);
    EXPECT_EQ(chain_pad(33), 0);

    // 32 devices before the FPGA: no pad, and the stream still reaches it.
    auto b = std::make_unique<sim::TapChain>(30'000'000);
    for (int i = 0; i < 32; ++i) b->add(std::make_unique<sim::ArmDap>());
    b->add(std::make_unique<sim::XilinxFpga>(*sim::find_xilinx_part("XC6SLX4")));
    Chain* chain = open(std::move(b));
    ASSERT_EQ(chain_detect(chain), 1);
    ASSERT_EQ(chain_count(chain), 33);
    BindingPtr module = bind(chain, 32, bit_file("XC6SLX4"));
    cable_state().record_shifts = true;
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
    EXPECT_TRUE(fpga()->engine().done());
    const auto& shifts = cable_state().shifts;
    const auto cfg_in = std::find_if(shifts.begin(), shifts.end(),
                                     [](const auto& s) { return s.label == "cfg_in"; });
    ASSERT_NE(cfg_in, shifts.end());
    const SimCableState::Shift& block = cfg_in[1];
    ASSERT_EQ(block.tdi.size(), 192u + 32u) << "block A, no pad, 32 bypass bits";
    EXPECT_EQ(std::vector<uint8_t>(block.tdi.begin(), block.tdi.begin() + 32),
              std::vector<uint8_t>(32, 1)) << "the dummy word leaves first";
}

TEST_F(Spartan6Test, CancelStopsTheImageAndLeavesTheFpgaInBypass) {
    static DevAlgModule* running = nullptr;
    Chain* chain = detected({"XC6SLX9"});
    BindingPtr module = bind(chain, 0, bit_file("XC6SLX9"));
    running = module.get();
    progress_hook() = [](int current) {
        if (current == 3 * 16384) devalg_entry<DevAlgStatusFn>(running, DEVALG_CANCEL)(running);
    };
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_CANCELLED);
    ASSERT_GE(progress_log().size(), 2u);
    EXPECT_EQ(std::get<0>(progress_log()[progress_log().size() - 2]), 3 * 16384)
        << "the piece under way was the last";
    EXPECT_EQ(progress_log().back(), Progress(0, 0, ""));
    EXPECT_FALSE(fpga()->engine().done());
    EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
    EXPECT_EQ(device_devopt(chain_get_device(chain, 0))->status, JTAG_CANCELLED);
    EXPECT_EQ(cable_state().lock_requests.back(), 0);

    // The next Write runs again.
    progress_hook() = nullptr;
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
    EXPECT_TRUE(fpga()->engine().done());
}

TEST_F(Spartan6Test, FilesAndChainsThatAreRefused) {
    Chain* chain = detected({"XC6SLX4"});
    const std::string good = bit_file("XC6SLX4");
    std::vector<uint8_t> bytes = sim::make_bit_file(*sim::find_xilinx_part("XC6SLX4"), {},
                                                    "2024/01/01", "12:00:00");
    const std::string no_dot = write_file("image_without_extension", bytes);
    bytes.resize(bytes.size() - 100);
    const std::string truncated = write_file("cut.bit", bytes);
    const std::string other = write_file("image.bin", bytes);
    Devopt* devopt = device_devopt(chain_get_device(chain, 0));

    struct Case {
        std::string path, printed;
    };
    for (const Case& c : {Case{other, "Not bitstream file.\n"},
                          Case{no_dot, "Bit file format error\n"},
                          Case{truncated, "Input file '" + truncated +
                                              "' exceeds device size.Bit file format error\n"}}) {
        SCOPED_TRACE(c.path);
        BindingPtr module = bind(chain, 0, c.path);
        printed().clear();
        cable_state().labels.clear();
        EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_FILE_OPEN);
        EXPECT_EQ(printed(), c.printed);
        EXPECT_EQ(devopt->status, JTAG_FILE_OPEN);
        EXPECT_EQ(std::count(cable_state().labels.begin(), cable_state().labels.end(), "jprogram"),
                  0);
    }

    // Upper-case extension.
    std::filesystem::rename(good, folder_ / "UPPER.BIT");
    BindingPtr module = bind(chain, 0, (folder_ / "UPPER.BIT").string());
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
    EXPECT_TRUE(fpga()->engine().done());

    // The chain believes in an XC6SLX16 while the board holds an XC6SLX4.
    ASSERT_EQ(device_set_part(chain_get_device(chain, 0), "XC6SLX16"), 1);
    BindingPtr wrong = bind(chain, 0, (folder_ / "UPPER.BIT").string());
    ASSERT_TRUE(wrong && wrong->state);
    EXPECT_EQ(devalg_call(wrong.get(), DEVALG_WRITE), JTAG_CHECK_DEVICES);
    EXPECT_EQ(devalg_call(wrong.get(), DEVALG_SHUTDOWN), JTAG_CHECK_DEVICES);
    EXPECT_EQ(device_devopt(chain_get_device(chain, 0))->status, JTAG_CHECK_DEVICES);
    EXPECT_TRUE(fpga()->engine().done()) << "untouched";
}

}  // namespace
}  // namespace vireo::test
