// Which devices kprbemb accepts, with which protocol, and what it says about boards.
#include "kprbemb_fixture.h"

namespace vireo::test {
namespace {

using KprbembIdentify = KprbembTest;

std::string description(Cable* cable) {
    const char* text = nullptr;
    EXPECT_EQ(cable_option(cable, CABLE_OPT_DESCRIPTION, nullptr, 0, &text, 0, nullptr), 1);
    return text ? text : "";
}

TEST_F(KprbembIdentify, BoardsByFirmwareVersion) {
    ASSERT_TRUE(open("kb2205"));
    EXPECT_EQ(description(cable_.get()), "KeenProbe Type-C");
    EXPECT_EQ(printed(), "Embedded KeenProbe Version 1.2\nEmbedded KeenProbe Version 1.2\n")
        << "once while searching, once more on the handle in use";
    // Version request twice, then init: its control request and the start bytes.
    EXPECT_EQ(log_.on(DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_CONTROL_OUT),
              (std::vector<Bytes>{{0x09}, {0x09}, {0x04}}));
    EXPECT_EQ(log_.stream(), (Bytes{0x00, 0x33, 0x00, 0x00}));

    ASSERT_TRUE(open("kb2202"));
    EXPECT_EQ(description(cable_.get()), "KeenProbe");

    printed().clear();
    EXPECT_FALSE(open("kb2205,fw=1.1"));
    EXPECT_EQ(printed(),
              "Embedded KeenProbe Version 1.1\n"
              "KeenProbeのバージョンが想定外のため続行できません。\n");
    EXPECT_FALSE(open("kb2201,fw=2.0")) << "only major version 1 is known";
}

TEST_F(KprbembIdentify, CablesByProductName) {
    ASSERT_TRUE(open("keenprobe"));
    EXPECT_EQ(description(cable_.get()), "KeenProbe");
    log_.pose_as = sim::Usb2Identity{"kv3301", 2, 1, 2};
    ASSERT_TRUE(open("keenprobe-c")) << "names compare in any letter case";
    EXPECT_EQ(description(cable_.get()), "KeenProbe Type-C");
    for (const char* refused : {"USB2.0-JTAG", "KeenProbeX", ""}) {
        log_.pose_as = sim::Usb2Identity{refused, 1, 1, 0};
        EXPECT_FALSE(open("keenprobe")) << refused;
    }
    EXPECT_TRUE(printed().empty());
}

}  // namespace
}  // namespace vireo::test
