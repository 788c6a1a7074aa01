// kprbemb's option codes: user pins, mode requests, connector drawing and pin records, alive check.
#include <cstring>

#include "kprbemb_fixture.h"

namespace vireo::test {
namespace {

using Bytes = std::vector<uint8_t>;

class KprbembOption : public KprbembTest {
protected:
    void SetUp() override {
        KprbembTest::SetUp();
        cable = open("keenprobe");
        ASSERT_TRUE(cable);
        log_.events.clear();
    }
    int option(int code, const void* in, void* out = nullptr, int count = 0, int* outcount = nullptr) {
        return cable_option(cable, code, in, 0, out, count, outcount);
    }
    CablePin pin(int index) {
        CablePin record;
        std::strcpy(record.name, "junk");
        option(CABLE_OPT_PIN_INFO, &index, &record);
        return record;
    }
    Cable* cable = nullptr;
};

TEST_F(KprbembOption, UserPinsDriveThePinRegister) {
    const uint8_t high_bits = 0xFF;
    EXPECT_EQ(option(3, &high_bits), 1);
    EXPECT_EQ(log_.stream(), (Bytes{0x03, 0xFF})) << "only bits 2, 3, 6, 7 taken from the input";

    int outcount = -1;
    const int refused = 0x04;
    EXPECT_EQ(option(5, &refused, nullptr, 0, &outcount), 0);
    EXPECT_EQ(outcount, 0);
    const int p0_low_p1_high = 0x40 | 0x100 | 0x200;
    EXPECT_EQ(option(5, &p0_low_p1_high, nullptr, 0, &outcount), 1);
    EXPECT_EQ(outcount, 1);
    EXPECT_EQ(log_.stream().size(), 2u) << "queued until the next flush";

    log_.events.clear();
    CablePin drive{};
    std::strcpy(drive.name, "p2");
    drive.state = 2;  // driven low
    EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &drive), 1);
    drive.state = 9;  // released
    std::strcpy(drive.name, "P3");
    EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &drive), 1);
    EXPECT_EQ(log_.stream(), (Bytes{0x03, 0xFE, 0x03, 0xFE, 0x03, 0xFA, 0x03, 0x7A}));

    EXPECT_EQ(pin(7).state, 0) << "P0 driven low";
    EXPECT_EQ(pin(8).state, 1) << "P1 driven high";
    EXPECT_EQ(pin(10).state, 5) << "P3 released, its level bit still high";
}

TEST_F(KprbembOption, ModeRequestsAndStatus) {
    const int on = 1, off = 0;
    EXPECT_EQ(option(CABLE_OPT_LOCK, &on), 1);
    EXPECT_EQ(option(161, &on), 1);
    EXPECT_EQ(option(CABLE_OPT_LOCK, &off), 1);
    EXPECT_EQ(log_.stream(), (Bytes{0x04, 0x01, 0x04, 0x81, 0x04, 0x80}));
    EXPECT_EQ(log_.on(DEVOBJ_BULK_READ, DEVOBJ_PIPE_STREAM_IN).size(), 3u);

    EXPECT_EQ(pin(12).state, 4) << "VREF unknown before a status read";
    uint8_t status[2] = {};
    int outcount = 0;
    EXPECT_EQ(option(10, nullptr, status, 2, &outcount), 1);
    EXPECT_EQ(outcount, 2);
    EXPECT_EQ(status[0], 0x01) << "target powered";
    EXPECT_EQ(status[1], 0x80) << "the mode byte as the cable holds it";
    EXPECT_EQ(pin(12).state, 5);
}

TEST_F(KprbembOption, ConnectorDrawingAndPinRecords) {
    const char* const* lines = nullptr;
    ASSERT_EQ(option(CABLE_OPT_DRAWING, nullptr, &lines), 1);
    int n = 0;
    while (lines[n]) ++n;
    EXPECT_EQ(n, 17);
    EXPECT_STREQ(lines[0], "package\t-44\t52\t44\t-52\tgreen\t");
    EXPECT_STREQ(lines[12], "tdi\t\t-40\t-4\t-32\t-12\t");
    EXPECT_STREQ(lines[16], "rpin\t\t-40\t-40\t-32\t-48\tblack\tGND");

    const struct {
        int index, kind, state;
        const char* name;
    } expected[] = {{0, 0, 10, "NC0"}, {2, 3, 10, "TCK"}, {6, 2, 10, "GND"}, {7, 6, 1, "P0"},
                    {9, 6, 4, "P2"},   {11, 1, 1, "VCC"}, {12, 4, 4, "VREF"}};
    for (const auto& e : expected) {
        const CablePin p = pin(e.index);
        EXPECT_EQ(p.kind, e.kind) << e.name;
        EXPECT_EQ(p.state, e.state) << e.name;
        EXPECT_STREQ(p.name, e.name);
    }
    int index = 13;
    CablePin outside;
    std::strcpy(outside.name, "junk");
    outside.kind = 7;
    EXPECT_EQ(option(CABLE_OPT_PIN_INFO, &index, &outside), 0);
    EXPECT_EQ(outside.kind, 0);
    EXPECT_STREQ(outside.name, "");
    EXPECT_TRUE(log_.events.empty());
}

TEST_F(KprbembOption, AliveCheckAndALostCable) {
    EXPECT_EQ(option(CABLE_OPT_NONE, nullptr), 1);
    EXPECT_EQ(option(157, nullptr), JTAG_UNSUPPORTED);
    EXPECT_EQ(option(CABLE_OPT_ALIVE, nullptr), 1);
    ASSERT_EQ(log_.on(DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_CONTROL_OUT).size(), 1u);
    EXPECT_EQ(log_.on(DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_CONTROL_OUT)[0]->bytes, Bytes{0x06});
    EXPECT_EQ(log_.on(DEVOBJ_BULK_READ, DEVOBJ_PIPE_CONTROL_IN)[0]->bytes.size(), 64u);

    sim::virtual_board()->unplug();
    EXPECT_EQ(option(CABLE_OPT_ALIVE, nullptr), JTAG_DISCONNECTED);
    EXPECT_EQ(cable_alive(cable), 0);
    EXPECT_EQ(option(CABLE_OPT_NONE, nullptr), JTAG_DISCONNECTED) << "the handle is gone";
    const int on = 1;
    EXPECT_EQ(option(CABLE_OPT_LOCK, &on), JTAG_DISCONNECTED);
}

}  // namespace
}  // namespace vireo::test
