// Both USB drivers end to end through the back-ends the device layers choose themselves: every
// preset detected and driven, a board pulled out mid-operation, an FX3 boot loader brought up.
#include <algorithm>
#include <fstream>

#include "jtag/opflag.h"
#include "sim/fx3_bootloader.h"
#include "usb_fixture.h"

namespace vireo::test {
namespace {

struct Preset {
    const char* driver;
    const char* sim;
    int devices = 1;
};

class UsbBoard : public UsbTest, public ::testing::WithParamInterface<Preset> {
  protected:
    Chain* connect(const std::string& sim_text) {
        if (!open(GetParam().driver, sim_text)) return nullptr;
        chain_.reset(chain_new(""));
        chain_set_cable(chain_.get(), cable_.get());
        EXPECT_EQ(chain_detect(chain_.get()), 1);
        jtag_select_all(chain_.get());
        return chain_.get();
    }
    void select_fpga_only() {
        jtag_select_none(chain_.get());
        jtag_select(chain_.get(), GetParam().devices - 1, 1);  // the Zynq's DAP comes first
    }
};

TEST_P(UsbBoard, DetectIdcodeSampleAndExtest) {
    Chain* chain = connect(GetParam().sim);
    ASSERT_TRUE(chain);
    ASSERT_EQ(chain_count(chain), GetParam().devices);
    sim::XilinxFpga* fpga = board().find<sim::XilinxFpga>();
    Devopt* devopt = device_devopt(chain_get_device(chain, GetParam().devices - 1));
    ASSERT_EQ(jtag_idcode(chain), JTAG_OK);
    EXPECT_EQ(devopt->idcode_read, fpga->idcode());
    select_fpga_only();
    const int length = fpga->part().bsr_len;
    std::vector<bool> pins(length), driven(length);
    Bytes sampled(length), to_drive(length);
    for (int i = 0; i < length; ++i) {
        sampled[i] = pins[i] = i % 3 == 0;
        to_drive[i] = driven[i] = i % 5 == 0;
    }
    fpga->set_pin_inputs(pins);
    ASSERT_EQ(jtag_sample(chain), JTAG_OK);
    EXPECT_EQ(devopt->bsr, sampled);
    ASSERT_EQ(jtag_extest(chain), JTAG_OK);
    devopt->bsr = to_drive;
    ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
    // skprb keeps the walk through Update-DR in its packet until the next transfer carries it.
    ASSERT_EQ(cable_option(cable_.get(), CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr), 1);
    EXPECT_TRUE(fpga->extest_active());
    EXPECT_EQ(fpga->boundary_outputs(), driven);
}

TEST_P(UsbBoard, UnpluggedMidOperationAnswers21AndIsReported) {
    // Count the transfers up to the end of a SAMPLE, then pull the board three before that.
    ASSERT_TRUE(connect(GetParam().sim));
    select_fpga_only();
    ASSERT_EQ(jtag_sample(chain_.get()), JTAG_OK);
    const uint64_t transfers = board_->counters().transfers;
    Chain* chain =
        connect(std::string(GetParam().sim) + ",unplug=" + std::to_string(transfers - 3));
    ASSERT_TRUE(chain);
    select_fpga_only();
    printed().clear();
    EXPECT_EQ(jtag_sample(chain), JTAG_DISCONNECTED);
    EXPECT_EQ(cable_alive(cable_.get()), 0);
    EXPECT_EQ(chain_report_errors(chain), JTAG_DISCONNECTED);
    EXPECT_NE(printed().find("because JTAG cable was disconnected forcibly\n"), std::string::npos)
        << printed();
    EXPECT_EQ(jtag_idcode(chain), JTAG_DISCONNECTED) << "the cable stays gone";
    EXPECT_EQ(cable_option(cable_.get(), CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr),
              JTAG_DISCONNECTED);
}

TEST_P(UsbBoard, LongCapturesComeBackWholeAndInOrderAndACutOneLosesTheCable) {
    if (GetParam().devices != 1) return;  // the IDCODE register alone between TDI and TDO
    // Many replies on their way at once: every batch's bits must land where they belong.
    Bytes tdi(40'003);
    uint32_t x = 2026;
    for (uint8_t& bit : tdi) bit = (x = x * 1664525 + 1013904223) >> 31;
    const Bytes mask(tdi.size(), 1);
    auto shift = [&](Bytes* capture) {
        capture->assign(tdi.size(), 9);
        return cable_shift_inout(cable_.get(), static_cast<int>(tdi.size()), tdi.data(),
                                 mask.data(), nullptr, nullptr, capture->data(), 2, 0, "", 1);
    };
    ASSERT_TRUE(open(GetParam().driver, GetParam().sim));
    reenter_shift_dr(cable_.get());
    const uint64_t before = board_->counters().transfers;
    Bytes capture;
    ASSERT_EQ(shift(&capture), 1);
    EXPECT_EQ(capture, idcode_then(tdi));
    // The same scan on a board pulled out halfway through it.
    const uint64_t halfway = before + (board_->counters().transfers - before) / 2;
    ASSERT_TRUE(open(GetParam().driver,
                     std::string(GetParam().sim) + ",unplug=" + std::to_string(halfway)));
    reenter_shift_dr(cable_.get());
    EXPECT_EQ(shift(&capture), JTAG_DISCONNECTED);
    EXPECT_EQ(cable_alive(cable_.get()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Presets, UsbBoard,
    ::testing::Values(Preset{"kprbemb", "kb2201"}, Preset{"kprbemb", "kb2201-45"},
                      Preset{"kprbemb", "kb2202"}, Preset{"kprbemb", "kb2205"},
                      Preset{"kprbemb", "keenprobe"}, Preset{"kprbemb", "keenprobe-c"},
                      Preset{"skprb", "kb2203"}, Preset{"skprb", "kb2204"},
                      Preset{"skprb", "lumenk"}, Preset{"skprb", "zynq", 2}),
    [](const auto& info) {
        std::string name = std::string(info.param.driver) + "_" + info.param.sim;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

using UsbDevices = UsbTest;

TEST_F(UsbDevices, EachDriverOpensOnlyItsOwnBoards) {
    EXPECT_FALSE(open("skprb", "kb2201")) << "a USB 2.0 board is no FX3 device";
    EXPECT_FALSE(open("skprb", "fx3-boot")) << "a boot loader runs no JTAG firmware";
    EXPECT_FALSE(open("kprbemb", "kb2203"));
}

// Offers the image file to a fresh boot loader, left in *board; "" when it took it.
std::string download(const std::string& path, std::shared_ptr<sim::VirtualBoard>* board) {
    *board = use_virtual_board("fx3-boot");
    EXPECT_TRUE(*board);
    uint16_t vid = 0, pid = 0;
    EXPECT_EQ(fx3_open(0, &vid, &pid, nullptr, 0), 1);
    EXPECT_EQ(vid * 0x10000 + pid, 0x04B400F3);
    char error[256] = "untouched";
    const int ok = fx3_download(path.c_str(), error, sizeof error);
    fx3_close();
    return ok ? "" : error;
}

TEST_F(UsbDevices, BootLoaderTakesTheBuiltImageAndRefusesBadOnes) {
    const std::string temp = ::testing::TempDir() + "fx3_boot_test.img";
    Bytes damaged = sim::fx3_stand_in_image();
    damaged[20] ^= 1;
    const std::pair<Bytes, const char*> bad[] = {
        {damaged, "FX3 image checksum is wrong"},
        {sim::fx3_image_bytes({{0x40003000, {1, 2, 3}}}, 0x40003000),
         "the virtual board runs only its own stand-in JTAG firmware"}};
    for (const auto& [image, error] : bad) {
        std::ofstream(temp, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
        EXPECT_EQ(download(temp, &board_), error);
    }
    EXPECT_EQ(download("no/such/file.img", &board_), "cannot open firmware image no/such/file.img");
    EXPECT_EQ(board_->preset().name, "fx3-boot") << "the boot loader stays";

    const char* built = "sys/SlaveFifoKB2203-XVC.img";
    ASSERT_EQ(download(built, &board_), "");
    uint16_t vid = 0, pid = 0;
    ASSERT_EQ(fx3_open(0, &vid, &pid, nullptr, 0), 1);
    EXPECT_EQ(vid * 0x10000 + pid, 0x21290640);
    char error[256] = "xxxxxxx";
    EXPECT_EQ(fx3_download(built, error, sizeof error), 0);
    EXPECT_STREQ(error, "the open FX3 device is not in its boot loader");
    fx3_close();
    EXPECT_EQ(fx3_download(built, error, 8), 0);
    EXPECT_STREQ(error, "no FX3 ") << "cut to the buffer";

    cable_.reset(cable_new("", "skprb", ""));
    ASSERT_TRUE(cable_) << "the board came back running the firmware";
    chain_.reset(chain_new(""));
    chain_set_cable(chain_.get(), cable_.get());
    ASSERT_EQ(chain_detect(chain_.get()), 1);
    EXPECT_EQ(device_part(chain_get_device(chain_.get(), 0))->name, "XC7A100T");
}

}  // namespace
}  // namespace vireo::test
