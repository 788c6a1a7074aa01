// Which devices kprbemb accepts, with which protocol, and what it says about boards.
#include "kprbemb_fixture.h"

namespace vireo::test {
namespace {

using KprbembIdentify = KprbembTest;

const char* description(Cable* cable) {
    const char* text = nullptr;
    EXPECT_EQ(cable_option(cable, CABLE_OPT_DESCRIPTION, nullptr, 0, &text, 0, nullptr), 1);
    return text ? text : "";
}

TEST_F(KprbembIdentify, BoardsByFirmwareVersion) {
    const std::string v12 = "Embedded KeenProbe Version 1.2\n";
    Cable* cable = open("kb2205");
    ASSERT_TRUE(cable);
    EXPECT_STREQ(description(cable), "KeenProbe Type-C");
    EXPECT_EQ(printed(), v12 + v12) << "once while searching, once more on the handle in use";

    // Init: the control request, then the start bytes on the stream.
    const auto control = log_.on(DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_CONTROL_OUT);
    ASSERT_EQ(control.size(), 3u);
    EXPECT_EQ(control[0]->bytes, std::vector<uint8_t>{0x09});
    EXPECT_EQ(control[2]->bytes, std::vector<uint8_t>{0x04});
    EXPECT_EQ(log_.stream(), (std::vector<uint8_t>{0x00, 0x33, 0x00, 0x00}));

    printed().clear();
    cable = open("kb2202");
    ASSERT_TRUE(cable);
    EXPECT_STREQ(description(cable), "KeenProbe");
    EXPECT_EQ(printed(), "Embedded KeenProbe Version 1.0\nEmbedded KeenProbe Version 1.0\n");

    printed().clear();
    EXPECT_FALSE(open("kb2205,fw=1.1"));
    EXPECT_EQ(printed(),
              "Embedded KeenProbe Version 1.1\n"
              "KeenProbeのバージョンが想定外のため続行できません。\n");
    EXPECT_FALSE(open("kb2201,fw=2.0")) << "only major version 1 is known";
}

TEST_F(KprbembIdentify, CablesByProductName) {
    Cable* cable = open("keenprobe");
    ASSERT_TRUE(cable);
    EXPECT_STREQ(description(cable), "KeenProbe");
    cable = open("keenprobe-c");
    ASSERT_TRUE(cable);
    EXPECT_STREQ(description(cable), "KeenProbe Type-C");
    log_.pose_as = sim::Usb2Identity{"kv3301", 2, 1, 2};
    cable = open("keenprobe-c");
    ASSERT_TRUE(cable) << "names compare in any letter case";
    EXPECT_STREQ(description(cable), "KeenProbe Type-C");
    EXPECT_TRUE(printed().empty());

    for (const char* refused : {"USB2.0-JTAG", "KeenProbeX", ""}) {
        log_.pose_as = sim::Usb2Identity{refused, 1, 1, 0};
        EXPECT_FALSE(open("keenprobe")) << refused;
    }
    EXPECT_FALSE(open("kb2203")) << "a USB 3.0 board offers no USB 2.0 device";
}

}  // namespace
}  // namespace vireo::test
