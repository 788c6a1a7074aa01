// skprb end to end: chains over the FX3 presets through the back-end fx3_open chooses itself,
// a board pulled out mid-operation, and a boot loader brought up with the built firmware image.
#include <cstdio>
#include <fstream>
#include <string>

#include "jtag/opflag.h"
#include "sim/fx3_bootloader.h"
#include "skprb_fixture.h"

namespace vireo::test {
namespace {

class SkprbBoard : public SkprbTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        SkprbTest::SetUp();
        fx3_set_backend_factory({});
    }
    void TearDown() override {
        chain_.reset();
        SkprbTest::TearDown();
    }

    Chain* connect(const std::string& sim_text) {
        chain_.reset();
        Cable* cable = open(sim_text.c_str());
        if (!cable) return nullptr;
        chain_.reset(chain_new(""));
        chain_set_cable(chain_.get(), cable);
        EXPECT_EQ(chain_detect(chain_.get()), 1);
        return chain_.get();
    }

    ChainPtr chain_;
};

TEST_P(SkprbBoard, DetectIdcodeSampleAndExtest) {
    Chain* chain = connect(GetParam());
    ASSERT_TRUE(chain);
    const int fpga_index = chain_count(chain) - 1;  // the Zynq's DAP comes first
    ASSERT_EQ(fpga_index, std::string(GetParam()) == "zynq" ? 1 : 0);
    sim::XilinxFpga* fpga = board().find<sim::XilinxFpga>();
    const Devopt* devopt = device_devopt(chain_get_device(chain, fpga_index));
    EXPECT_EQ(device_part(chain_get_device(chain, fpga_index))->name, fpga->part().name);
    jtag_select_all(chain);
    ASSERT_EQ(jtag_idcode(chain), JTAG_OK);
    EXPECT_EQ(devopt->idcode_read, fpga->idcode());

    jtag_select_none(chain);
    jtag_select(chain, fpga_index, 1);
    const int length = fpga->part().bsr_len;
    std::vector<bool> pins(length);
    for (int i = 0; i < length; ++i) pins[i] = (i % 3) == 0;
    fpga->set_pin_inputs(pins);
    ASSERT_EQ(jtag_sample(chain), JTAG_OK);
    ASSERT_EQ(static_cast<int>(devopt->bsr.size()), length);
    for (int i = 0; i < length; ++i) ASSERT_EQ(devopt->bsr[i], pins[i] ? 1 : 0) << "cell " << i;

    Devopt* writable = device_devopt(chain_get_device(chain, fpga_index));
    ASSERT_EQ(jtag_extest(chain), JTAG_OK);
    for (int i = 0; i < length; ++i) writable->bsr[i] = (i % 5) == 0;
    const std::vector<uint8_t> driven = writable->bsr;
    ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
    // The walk through Update-DR waits in the packet until the next transfer carries it.
    ASSERT_EQ(
        cable_option(chain_get_cable(chain), CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr), 1);
    EXPECT_TRUE(fpga->extest_active());
    for (int i = 0; i < length; ++i) {
        ASSERT_EQ(fpga->boundary_outputs()[i], driven[i] == 1) << "cell " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Fx3Presets, SkprbBoard,
                         ::testing::Values("kb2203", "kb2204", "lumenk", "zynq"));

TEST_F(SkprbBoard, UnpluggedMidOperationAnswers21AndIsReported) {
    // Count the transfers of an IDCODE read, then pull the board after its instruction went out,
    // before the data register's chunk could be sent.
    Chain* chain = connect("kb2203");
    ASSERT_TRUE(chain);
    jtag_select_all(chain);
    const uint64_t before = sim::virtual_board()->counters().transfers;
    ASSERT_EQ(jtag_idcode(chain), JTAG_OK);
    const uint64_t used = sim::virtual_board()->counters().transfers - before;
    ASSERT_GE(used, 3u);

    chain = connect("kb2203,unplug=" + std::to_string(before + 1));
    ASSERT_TRUE(chain);
    jtag_select_all(chain);
    printed().clear();
    EXPECT_EQ(jtag_idcode(chain), JTAG_DISCONNECTED);
    EXPECT_EQ(cable_alive(chain_get_cable(chain)), 0);
    EXPECT_EQ(chain_report_errors(chain), JTAG_DISCONNECTED);
    EXPECT_NE(printed().find("JTAG cable was disconnected forcibly"), std::string::npos);
    EXPECT_EQ(jtag_bypass(chain), JTAG_DISCONNECTED) << "the cable stays gone";
    EXPECT_EQ(cable_runtest(chain_get_cable(chain), RUNTEST_IDLE, 0, 5000, "", 1, nullptr, nullptr),
              JTAG_DISCONNECTED);
    EXPECT_EQ(
        cable_option(chain_get_cable(chain), CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr),
        JTAG_DISCONNECTED);
}

TEST_F(SkprbBoard, OnlyFx3BoardsOpen) {
    EXPECT_FALSE(open("kb2201")) << "a USB 2.0 board is no FX3 device";
    EXPECT_FALSE(open("fx3-boot")) << "a boot loader runs no JTAG firmware";
    printed().clear();
    EXPECT_FALSE(sim::reset_virtual_board("kb2203,bogus=1"));
    uint16_t vid = 0, pid = 0;
    EXPECT_EQ(fx3_open(0, &vid, &pid, nullptr, 0), 0);
    EXPECT_EQ(printed().rfind("VIREO_SIM: ", 0), 0u) << printed();
}

class Fx3Boot : public SkprbBoard {
  protected:
    // Opens the boot loader and offers it the given image file.
    std::string download(const std::string& path) {
        cable_.reset();
        EXPECT_TRUE(sim::reset_virtual_board("fx3-boot"));
        uint16_t vid = 0, pid = 0;
        char text[256];
        EXPECT_EQ(fx3_open(0, &vid, &pid, text, sizeof text), 1);
        EXPECT_EQ(vid, 0x04B4);
        EXPECT_EQ(pid, 0x00F3);
        char error[256] = "untouched";
        const int ok = fx3_download(path.c_str(), error, sizeof error);
        fx3_close();
        return ok ? "" : error;
    }
    static std::string write_temp(const std::vector<uint8_t>& bytes) {
        const std::string path = ::testing::TempDir() + "fx3_boot_test.img";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

TEST_F(Fx3Boot, TheBuiltImageBringsTheBoardUp) {
    EXPECT_EQ(download("sys/SlaveFifoKB2203-XVC.img"), "");
    uint16_t vid = 0, pid = 0;
    char text[100];
    ASSERT_EQ(fx3_open(0, &vid, &pid, text, sizeof text), 1);
    EXPECT_EQ(vid, 0x2129);
    EXPECT_EQ(pid, 0x0640);
    fx3_close();
    Chain* chain = chain_new("");
    chain_.reset(chain);
    cable_.reset(cable_new("", "skprb", ""));
    ASSERT_TRUE(cable_);
    chain_set_cable(chain, cable_.get());
    ASSERT_EQ(chain_detect(chain), 1);
    EXPECT_EQ(device_part(chain_get_device(chain, 0))->name, "XC7A100T");
}

TEST_F(Fx3Boot, BadImagesAreRefusedAndTheBootLoaderStays) {
    std::vector<uint8_t> image = sim::fx3_stand_in_image();
    image[20] ^= 1;
    EXPECT_EQ(download(write_temp(image)), "FX3 image checksum is wrong");
    // A well-formed image of other code: the virtual board cannot run it.
    const std::vector<uint8_t> other = sim::fx3_image_bytes({{0x40003000, {1, 2, 3}}}, 0x40003000);
    EXPECT_EQ(download(write_temp(other)),
              "the virtual board runs only its own stand-in JTAG firmware");
    EXPECT_EQ(download("no/such/file.img"), "cannot open firmware image no/such/file.img");
    EXPECT_EQ(sim::virtual_board()->preset().name, "fx3-boot");

    // Not on a board running its firmware, nor with no device at all; errors fit the buffer.
    ASSERT_TRUE(sim::reset_virtual_board("kb2203"));
    char small[8] = "xxxxxxx";
    EXPECT_EQ(fx3_download("sys/SlaveFifoKB2203-XVC.img", small, sizeof small), 0);
    EXPECT_STREQ(small, "no FX3 ");
    uint16_t vid, pid;
    ASSERT_EQ(fx3_open(0, &vid, &pid, nullptr, 0), 1);
    char error[256];
    EXPECT_EQ(fx3_download("sys/SlaveFifoKB2203-XVC.img", error, sizeof error), 0);
    EXPECT_STREQ(error, "the open FX3 device is not in its boot loader");
}

}  // namespace
}  // namespace vireo::test
