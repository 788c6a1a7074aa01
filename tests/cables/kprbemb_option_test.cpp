// kprbemb's option codes: user pins, mode requests, connector drawing and pin records, alive check.
#include <cstring>

#include "kprbemb_fixture.h"

namespace vireo::test {
namespace {

class KprbembOption : public KprbembTest {
  protected:
    void SetUp() override {
        KprbembTest::SetUp();
        ASSERT_TRUE(open("keenprobe"));
        log_.events.clear();
    }
    int option(int code, const void* in, void* out = nullptr, int count = 0,
               int* outcount = nullptr) {
        return cable_option(cable_.get(), code, in, 0, out, count, outcount);
    }
    CablePin pin(int index) {
        CablePin record;
        std::strcpy(record.name, "junk");
        record.kind = 7;
        option(CABLE_OPT_PIN_INFO, &index, &record);
        return record;
    }
};

TEST_F(KprbembOption, UserPinsDriveThePinRegister) {
    EXPECT_EQ(pin(7).state, 1) << "P0 driven high at open";
    EXPECT_EQ(pin(9).state, 4) << "P2 released, level low";
    const uint8_t high = 0xFF;
    EXPECT_EQ(option(3, &high), 1);  // takes bits 2, 3, 6, 7 only
    int outcount = -1;
    const int refused = 0x04, p0_low = 0x40;
    EXPECT_EQ(option(5, &refused, nullptr, 0, &outcount), 0);
    EXPECT_EQ(outcount, 0);
    EXPECT_EQ(option(5, &p0_low, nullptr, 0, &outcount), 1);
    EXPECT_EQ(outcount, 1);
    CablePin drive{};
    std::strcpy(drive.name, "p2");
    drive.state = 2;  // driven low
    EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &drive), 1);
    std::strcpy(drive.name, "P3");
    drive.state = 9;  // released
    EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &drive), 1);
    EXPECT_EQ(log_.writes(),
              (std::vector<Bytes>{{0x03, 0xFF}, {0x03, 0xFE, 0x03, 0xFA}, {0x03, 0x7A}}))
        << "option 5 waits for the next flush";
    EXPECT_EQ(pin(7).state, 0);
    EXPECT_EQ(pin(10).state, 5) << "P3 released, its level bit still high";
}

TEST_F(KprbembOption, ModeRequestsStatusAndPinTable) {
    const int on = 1, off = 0;
    EXPECT_EQ(option(CABLE_OPT_LOCK, &on), 1);
    EXPECT_EQ(option(161, &on), 1);
    EXPECT_EQ(option(CABLE_OPT_LOCK, &off), 1);
    EXPECT_EQ(log_.stream(), (Bytes{0x04, 0x01, 0x04, 0x81, 0x04, 0x80}));
    EXPECT_EQ(pin(12).state, 4) << "VREF unknown before a status read";
    uint8_t status[2] = {};
    int outcount = 0;
    EXPECT_EQ(option(10, nullptr, status, 2, &outcount), 1);
    EXPECT_EQ(outcount, 2);
    EXPECT_EQ(status[1], 0x80) << "the mode byte as the cable holds it";
    EXPECT_EQ(pin(12).state, 5) << "target powered";

    const CablePin tck = pin(2), vcc = pin(11), outside = pin(13);
    EXPECT_EQ(tck.kind * 100 + tck.state, 310);
    EXPECT_STREQ(vcc.name, "VCC");
    EXPECT_EQ(vcc.state, 1);
    EXPECT_EQ(outside.kind, 0);
    EXPECT_STREQ(outside.name, "");

    const char* const* lines = nullptr;
    ASSERT_EQ(option(CABLE_OPT_DRAWING, nullptr, &lines), 1);
    EXPECT_STREQ(lines[12], "tdi\t\t-40\t-4\t-32\t-12\t");
    EXPECT_STREQ(lines[16], "rpin\t\t-40\t-40\t-32\t-48\tblack\tGND");
    EXPECT_EQ(lines[17], nullptr);
}

TEST_F(KprbembOption, AliveCheckAndALostCable) {
    EXPECT_EQ(option(157, nullptr), JTAG_UNSUPPORTED);
    EXPECT_EQ(option(CABLE_OPT_ALIVE, nullptr), 1);
    EXPECT_EQ(log_.on(DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_CONTROL_OUT), std::vector<Bytes>{{0x06}});
    sim::virtual_board()->unplug();
    EXPECT_EQ(option(CABLE_OPT_ALIVE, nullptr), JTAG_DISCONNECTED);
    EXPECT_EQ(cable_alive(cable_.get()), 0);
    EXPECT_EQ(option(CABLE_OPT_NONE, nullptr), JTAG_DISCONNECTED) << "the handle is gone";
}

}  // namespace
}  // namespace vireo::test
