// kprbemb end to end: chains over every USB 2.0 preset through the normal device-object choice.
#include <string>

#include "jtag/opflag.h"
#include "kprbemb_fixture.h"

namespace vireo::test {
namespace {

class KprbembBoard : public KprbembTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        KprbembTest::SetUp();
        devobj_set_backend({});  // the back-end devobj_open chooses itself
    }

    Chain* connect(const std::string& sim_text) {
        chain_.reset();
        Cable* cable = open(sim_text.c_str());
        if (!cable) return nullptr;
        chain_.reset(chain_new(""));
        chain_set_cable(chain_.get(), cable);
        EXPECT_EQ(chain_detect(chain_.get()), 1);
        jtag_select_all(chain_.get());
        return chain_.get();
    }
    void TearDown() override {
        chain_.reset();
        KprbembTest::TearDown();
    }

    ChainPtr chain_;
};

TEST_P(KprbembBoard, DetectIdcodeSampleAndExtest) {
    Chain* chain = connect(GetParam());
    ASSERT_TRUE(chain);
    ASSERT_EQ(chain_count(chain), 1);
    sim::XilinxFpga* fpga = board().find<sim::XilinxFpga>();
    const Devopt* devopt = device_devopt(chain_get_device(chain, 0));
    ASSERT_EQ(jtag_idcode(chain), JTAG_OK);
    EXPECT_EQ(devopt->idcode_read, fpga->idcode());

    const int length = fpga->part().bsr_len;
    std::vector<bool> pins(length);
    for (int i = 0; i < length; ++i) pins[i] = (i % 3) == 0;
    fpga->set_pin_inputs(pins);
    ASSERT_EQ(jtag_sample(chain), JTAG_OK);
    ASSERT_EQ(static_cast<int>(devopt->bsr.size()), length);
    for (int i = 0; i < length; ++i) ASSERT_EQ(devopt->bsr[i], pins[i] ? 1 : 0) << "cell " << i;

    Devopt* writable = device_devopt(chain_get_device(chain, 0));
    ASSERT_EQ(jtag_extest(chain), JTAG_OK);
    for (int i = 0; i < length; ++i) writable->bsr[i] = (i % 5) == 0;
    const std::vector<uint8_t> driven = writable->bsr;
    ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
    EXPECT_TRUE(fpga->extest_active());
    for (int i = 0; i < length; ++i) {
        ASSERT_EQ(fpga->boundary_outputs()[i], driven[i] == 1) << "cell " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Usb2Presets, KprbembBoard,
                         ::testing::Values("kb2201", "kb2201-45", "kb2202", "kb2205", "keenprobe",
                                           "keenprobe-c"));

TEST_F(KprbembBoard, UnpluggedMidShiftAnswers21AndIsReported) {
    for (const std::string preset : {"kb2201", "keenprobe"}) {
        // Count the transfers of a SAMPLE, then pull the cable after the last chunk went out,
        // before its TDO came back (the unlock's request and reply follow the chunk).
        Chain* chain = connect(preset);
        ASSERT_TRUE(chain);
        ASSERT_EQ(jtag_sample(chain), JTAG_OK);
        const uint64_t transfers = sim::virtual_board()->counters().transfers;

        chain = connect(preset + ",unplug=" + std::to_string(transfers - 3));
        ASSERT_TRUE(chain);
        printed().clear();
        EXPECT_EQ(jtag_sample(chain), JTAG_DISCONNECTED) << preset;
        EXPECT_EQ(cable_alive(chain_get_cable(chain)), 0);
        EXPECT_EQ(chain_report_errors(chain), JTAG_DISCONNECTED);
        EXPECT_NE(printed().find("JTAG operation was failed because JTAG cable was disconnected "
                                 "forcibly\n"),
                  std::string::npos)
            << printed();
        EXPECT_EQ(jtag_idcode(chain), JTAG_DISCONNECTED) << "the cable stays gone";
    }
}

}  // namespace
}  // namespace vireo::test
