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
    void TearDown() override {
        chain_.reset();
        KprbembTest::TearDown();
    }
    Chain* connect(const std::string& sim_text) {
        chain_.reset();
        if (!open(sim_text.c_str())) return nullptr;
        chain_.reset(chain_new(""));
        chain_set_cable(chain_.get(), cable_.get());
        EXPECT_EQ(chain_detect(chain_.get()), 1);
        jtag_select_all(chain_.get());
        return chain_.get();
    }
    ChainPtr chain_;
};

TEST_P(KprbembBoard, DetectIdcodeSampleAndExtest) {
    Chain* chain = connect(GetParam());
    ASSERT_TRUE(chain);
    ASSERT_EQ(chain_count(chain), 1);
    sim::XilinxFpga* fpga = board().find<sim::XilinxFpga>();
    Devopt* devopt = device_devopt(chain_get_device(chain, 0));
    ASSERT_EQ(jtag_idcode(chain), JTAG_OK);
    EXPECT_EQ(devopt->idcode_read, fpga->idcode());

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
    EXPECT_TRUE(fpga->extest_active());
    EXPECT_EQ(fpga->boundary_outputs(), driven);
}

INSTANTIATE_TEST_SUITE_P(Usb2Presets, KprbembBoard,
                         ::testing::Values("kb2201", "kb2201-45", "kb2202", "kb2205", "keenprobe",
                                           "keenprobe-c"));

TEST_F(KprbembBoard, UnpluggedMidShiftAnswers21AndIsReported) {
    for (const std::string preset : {"kb2201", "keenprobe"}) {
        // Count the transfers of a SAMPLE, then pull the cable after its last chunk went out and
        // before the TDO came back (the unlock's request and reply follow the chunk).
        ASSERT_TRUE(connect(preset));
        ASSERT_EQ(jtag_sample(chain_.get()), JTAG_OK);
        const uint64_t transfers = sim::virtual_board()->counters().transfers;

        Chain* chain = connect(preset + ",unplug=" + std::to_string(transfers - 3));
        ASSERT_TRUE(chain);
        printed().clear();
        EXPECT_EQ(jtag_sample(chain), JTAG_DISCONNECTED) << preset;
        EXPECT_EQ(chain_report_errors(chain), JTAG_DISCONNECTED);
        EXPECT_NE(printed().find("because JTAG cable was disconnected forcibly\n"),
                  std::string::npos)
            << printed();
        EXPECT_EQ(jtag_idcode(chain), JTAG_DISCONNECTED) << "the cable stays gone";
    }
}

}  // namespace
}  // namespace vireo::test
