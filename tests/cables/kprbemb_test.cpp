// kprbemb on its own: which devices it takes, waits and clocks, a full queue, partial or missing
// replies, a cable that holds only a few replies, and its option codes.
#include "cables/kprbemb.h"

#include <cstring>

#include "usb_fixture.h"

namespace vireo::test {
namespace {

class Kprbemb : public UsbWire {
  protected:
    Cable* open(const char* sim_text) { return UsbTest::open("kprbemb", sim_text); }
    std::string description() {
        const char* text = nullptr;
        return option(CABLE_OPT_DESCRIPTION, nullptr, &text) == 1 && text ? text : "refused";
    }
    CablePin pin(int index) {
        CablePin record;
        std::strcpy(record.name, "junk");
        option(CABLE_OPT_PIN_INFO, &index, &record);
        return record;
    }
    Writes controls() const { return log_.writes(DEVOBJ_PIPE_CONTROL_OUT); }
};

TEST_F(Kprbemb, BoardsByFirmwareVersionCablesByProductName) {
    ASSERT_TRUE(open("kb2205"));
    EXPECT_EQ(description(), "KeenProbe Type-C");
    EXPECT_EQ(printed(), "Embedded KeenProbe Version 1.2\n")
        << "asked while searching and once more on the handle in use, printed once";
    // The version request twice, then init: its control request and the start bytes.
    EXPECT_EQ(controls(), (Writes{{0x09}, {0x09}, {0x04}}));
    EXPECT_EQ(log_.stream(), (Bytes{0x00, 0x33, 0x00, 0x00}));
    printed().clear();
    EXPECT_FALSE(open("kb2205,fw=1.1"));
    EXPECT_EQ(printed(),
              "Embedded KeenProbe Version 1.1\n"
              "KeenProbeのバージョンが想定外のため続行できません。\n");
    EXPECT_FALSE(open("kb2201,fw=2.0")) << "only major version 1 is known";
    ASSERT_TRUE(open("kb2202"));
    EXPECT_EQ(description(), "KeenProbe");

    printed().clear();
    const std::pair<const char*, const char*> products[] = {
        {"KeenProbe", "KeenProbe"},         {"kv3301", "KeenProbe Type-C"},
        {"keenprobec", "KeenProbe Type-C"}, {"USB2.0-JTAG", "refused"},
        {"KeenProbeX", "refused"},          {"", "refused"}};
    for (const auto& [product, expected] : products) {
        const bool type_c = std::string(expected) == "KeenProbe Type-C";
        log_.pose_as = sim::Usb2Identity{product, type_c ? 2 : 1, 1, 0};
        open(type_c ? "keenprobe-c" : "keenprobe");
        EXPECT_EQ(description(), expected) << product;
    }
    EXPECT_EQ(printed(), "") << "cables print nothing";
}

// A board that does not take the init request: init answers 0, not "ready", and the cable is
// lost for good (the handle is closed).
TEST_F(Kprbemb, InitTheBoardRefusesAnswers0AndLosesTheCable) {
    Cable* cable = open("kb2205");
    ASSERT_TRUE(cable);
    log_.writes_until_failure = 0;
    EXPECT_EQ(kprbemb_driver()->init(cable), 0);
    EXPECT_EQ(cable_alive(cable), 0);
    Bytes capture(8, 9);
    EXPECT_EQ(shift(Bytes(8, 1), capture.data()), JTAG_DISCONNECTED);
    EXPECT_EQ(capture, Bytes(8, 9));
}

TEST_F(Kprbemb, RuntestWaitsInTicksOrClocksAfterTheWalk) {
    Cable* cable = open("keenprobe");
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    log_.transfers.clear();
    const uint64_t tcks = board().tck_count(), ns = board().now_ns();
    ASSERT_EQ(cable_runtest(cable, SHIFT_DR, 1000, 50, "", 1, nullptr, nullptr), 1);
    EXPECT_EQ(log_.writes(), (Writes{{0x06, 0x0B, 0x02, 0x00, 0x00}}));
    EXPECT_EQ(board().tck_count(), tcks) << "a wait moves no TCK";
    EXPECT_GE(board().now_ns() - ns, 523u * 1910u);

    log_.transfers.clear();
    const Bytes tdi = every(12, 4);
    Bytes tdo(12, 0x55);
    ASSERT_EQ(cable_runtest(cable, SHIFT_DR, 0, 12, "", 0, tdi.data(), tdo.data()), 1);
    EXPECT_EQ(log_.writes(), (Writes{{0x02, 0x03, 0x02, 0x02, 0x02, 0x02, 0x00,  //
                                      0x08, 12, 0x02, 0x11, 0x01, 0x00}}));
    EXPECT_EQ(tdo, idcode_then(tdi));
    EXPECT_EQ(board().state(), sim::TapState::ShiftDr) << "TMS kept low";
}

TEST_F(Kprbemb, AFullQueueGoesOutMidCommandAndTheBoardStillRunsIt) {
    Cable* cable = open("keenprobe-c");
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    log_.transfers.clear();
    const uint64_t tcks = board().tck_count();
    ASSERT_EQ(cable_runtest(cable, UNKNOWN, 0, 40000, "", 0, nullptr, nullptr), 1);
    ASSERT_EQ(log_.writes().size(), 1u);
    EXPECT_EQ(log_.writes()[0].size(), 32768u);
    ASSERT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
    EXPECT_EQ(log_.stream().size(), 80u * 504 + 512);
    EXPECT_EQ(board().tck_count() - tcks, 40000u + 3);
    EXPECT_EQ(board().state(), sim::TapState::ShiftDr);
}

TEST_F(Kprbemb, PartialRepliesAreJoinedAndAMissingRestFailsWithoutStaleBits) {
    Cable* cable = in_shift_dr("kprbemb", "keenprobe");
    const Bytes tdi = every(300, 3);
    Bytes capture(300, 0x55);
    log_.read_limit = 100;
    ASSERT_EQ(shift(tdi, capture.data()), 1);
    EXPECT_EQ(log_.reads(), 6u);
    EXPECT_EQ(capture, idcode_then(tdi));

    reenter_shift_dr(cable);
    log_.reads_until_empty = 1;  // 100 bytes arrive, then nothing
    capture.assign(300, 0x55);
    EXPECT_EQ(shift(tdi, capture.data()), JTAG_DISCONNECTED);
    EXPECT_EQ(capture, Bytes(300, 0)) << "nothing stale or partial";
    EXPECT_EQ(cable_alive(cable), 0);
    log_.transfers.clear();
    EXPECT_EQ(shift(tdi, capture.data()), JTAG_DISCONNECTED);
    EXPECT_TRUE(log_.transfers.empty());
}

TEST_F(Kprbemb, PinRegisterModeRequestsAndStatus) {
    ASSERT_TRUE(open("keenprobe"));
    log_.transfers.clear();
    const uint8_t high = 0xFF;
    EXPECT_EQ(option(3, &high), 1);  // takes bits 2, 3, 6, 7 only
    int outcount = -1;
    const int refused = 0x04, p0_low = 0x40;
    EXPECT_EQ(option(5, &refused, nullptr, 0, &outcount), 0);
    EXPECT_EQ(outcount, 0);
    EXPECT_EQ(option(5, &p0_low, nullptr, 0, &outcount), 1);
    EXPECT_EQ(outcount, 1);
    CablePin drive{};
    std::strcpy(drive.name, "p3");  // names in any letter case
    drive.state = 9;                // released
    EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &drive), 1);
    EXPECT_EQ(log_.writes(), (Writes{{0x03, 0xFF}, {0x03, 0xFE, 0x03, 0x7E}}))
        << "option 5 waits for the next flush";
    EXPECT_EQ(pin(7).state, 0);
    EXPECT_EQ(pin(10).state, 5) << "P3 released, its level bit still high";

    log_.transfers.clear();
    const int on = 1, off = 0;
    EXPECT_EQ(option(CABLE_OPT_LOCK, &on), 1);
    EXPECT_EQ(option(161, &on), 1);
    EXPECT_EQ(option(CABLE_OPT_LOCK, &off), 1);
    EXPECT_EQ(log_.stream(), (Bytes{0x04, 0x01, 0x04, 0x81, 0x04, 0x80}));
    EXPECT_EQ(pin(12).state, 4) << "VREF unknown before a status read";
    uint8_t status[2] = {};
    EXPECT_EQ(option(10, nullptr, status, 2, &outcount), 1);
    EXPECT_EQ(outcount, 2);
    EXPECT_EQ(status[1], 0x80) << "the mode byte as the cable holds it";
    EXPECT_EQ(pin(12).state, 5) << "target powered";
    EXPECT_EQ(option(157, nullptr), JTAG_UNSUPPORTED);
}

// The firmware holding four stream replies, as a real cable's chip does, with no recording layer
// in between: a command that would reply while four replies wait unread and no read is posted
// does not run, and its write fails as a NAKed transfer does at its time-out.
class KprbembFourReplies : public UsbTest {
  protected:
    std::shared_ptr<sim::VirtualBoard> install(const std::string& sim_text) override {
        std::shared_ptr<sim::VirtualBoard> board = use_virtual_board(sim_text);
        if (!board) return nullptr;
        sim::Usb2Identity four = *sim::usb2_identity(board->config());
        four.in_buffers = 4;
        devobj_set_backend([board, four](const std::string& name) {
            return devobj_virtual_open(board, name, &four);
        });
        return board;
    }
};

TEST_F(KprbembFourReplies, LongCapturesPostTheirReadsBeforeTheCommandsGoOut) {
    ASSERT_TRUE(install("keenprobe"));
    const DevobjHandle h = devobj_open("\\\\.\\XrCam-0");
    uint8_t shift_read[] = {0x08, 8, 0x02, 0x55};
    const uint32_t pipe = DEVOBJ_PIPE_STREAM_OUT;
    uint32_t got = 0;
    auto write = [&] { return devobj_ioctl(h, DEVOBJ_BULK_WRITE, &pipe, 4, shift_read, 4, &got); };
    for (int i = 0; i < 4; ++i) ASSERT_EQ(write(), 1);
    EXPECT_EQ(write(), 0) << "a fifth reply has nowhere to go";
    ASSERT_EQ(devobj_post_reads(h, DEVOBJ_PIPE_STREAM_IN, 256, 1), 1);
    EXPECT_EQ(write(), 1) << "the posted read took a reply";
    devobj_close(h);

    // Protocol 1 on a cable and a board, protocol 2: more batches than are kept in flight.
    for (const char* sim_text : {"keenprobe", "kb2202", "kb2205"}) {
        Cable* cable = open("kprbemb", sim_text);
        ASSERT_TRUE(cable) << sim_text;
        reenter_shift_dr(cable);
        const Bytes tdi = every(70'000, 3), mask(tdi.size(), 1);
        Bytes capture(tdi.size(), 9);
        const int status =
            cable_shift_inout(cable, static_cast<int>(tdi.size()), tdi.data(), mask.data(), nullptr,
                              nullptr, capture.data(), 2, 0, "", 1);
        EXPECT_TRUE(status == 1 && capture == idcode_then(tdi))
            << sim_text << " answered " << status;
    }
}

}  // namespace
}  // namespace vireo::test
