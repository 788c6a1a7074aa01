// Bytes kprbemb puts on the wire in both protocols, and what it makes of the replies.
#include "kprbemb_fixture.h"

namespace vireo::test {
namespace {

using Writes = std::vector<Bytes>;

Bytes packed(const Bytes& bits, int first, int n) {
    Bytes bytes((n + 7) / 8, 0);
    for (int i = 0; i < n; ++i) bytes[i / 8] |= bits[first + i] << (i % 8);
    return bytes;
}
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

class KprbembWire : public KprbembTest {
  protected:
    Cable* in_shift_dr(const char* sim_text) {
        Cable* cable = open(sim_text);
        if (cable) reenter_shift_dr(cable);
        return cable;
    }
    int shift(Cable* cable, const Bytes& tdi, Bytes& capture, int nocap = 0, int flush = 1) {
        const Bytes mask(tdi.size(), 1);
        capture.assign(tdi.size(), 0x55);
        return cable_shift_inout(cable, static_cast<int>(tdi.size()), tdi.data(), mask.data(),
                                 nullptr, nullptr, capture.data(), 2, nocap, "", flush);
    }
};

TEST_F(KprbembWire, Protocol1PacksChunksOf256Bits) {
    Cable* cable = in_shift_dr("keenprobe");
    ASSERT_TRUE(cable);
    for (int count : {300, 256}) {
        const Bytes tdi = every(count, 3);
        Bytes capture;
        ASSERT_EQ(shift(cable, tdi, capture), 1);
        const uint8_t mode = count == 256 ? 0x03 : 0x02;  // TMS on the last bit, TDO read
        Writes expected = {concat({{0x08, 0x00, mode}, packed(tdi, 0, 256), {0x00}})};
        if (count == 300)
            expected.push_back(concat({{0x08, 44, 0x03}, packed(tdi, 256, 44), {0x00}}));
        EXPECT_EQ(log_.writes(), expected);
        EXPECT_EQ(log_.on(DEVOBJ_BULK_READ, DEVOBJ_PIPE_STREAM_IN).size(), expected.size());
        EXPECT_EQ(capture, idcode_then(tdi)) << count;
        EXPECT_EQ(board().state(), sim::TapState::Exit1Dr);
        reenter_shift_dr(cable);
    }

    // Without capture and flush the chunk waits in the queue; a zero mask drives TDI 0.
    const Bytes ones(20, 1), mask(20, 0);
    Bytes capture(20, 0x55);
    ASSERT_EQ(cable_shift_inout(cable, 20, ones.data(), mask.data(), nullptr, nullptr,
                                capture.data(), 2, 1, "", 0),
              1);
    EXPECT_TRUE(log_.events.empty());
    EXPECT_EQ(capture, Bytes(20, 0));
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    EXPECT_EQ(log_.writes(),
              (Writes{{0x08, 20, 0x01, 0, 0, 0, 0x00, 0x02, 0x03, 0x02, 0x02, 0x00}}));
}

TEST_F(KprbembWire, Protocol2SendsOneBytePerBitInPacketsOf500) {
    Cable* cable = in_shift_dr("keenprobe-c");
    ASSERT_TRUE(cable);
    for (int count : {300, 500, 501}) {
        const Bytes tdi = every(count, 7);
        Bytes capture;
        ASSERT_EQ(shift(cable, tdi, capture), 1);
        const int first = std::min(count, 500);
        Bytes packet = {0x11, static_cast<uint8_t>(first), 0x02};
        for (int i = 0; i < first; ++i)
            packet.push_back((tdi[i] ? 0x08 : 0) | (i == count - 1 ? 0x80 : 0));
        packet.push_back(0x00);
        Writes expected = {packet};
        if (count == 501) expected.push_back({0x11, 1, 0x01, 0x80, 0x00});
        EXPECT_EQ(log_.writes(), expected) << count;
        EXPECT_EQ(capture, idcode_then(tdi)) << count;
        reenter_shift_dr(cable);
    }
    Bytes capture;
    ASSERT_EQ(shift(cable, Bytes{1, 0, 1}, capture, 2), 1);
    EXPECT_EQ(log_.writes(), (Writes{{0x10, 3, 0x01, 0x08, 0x00, 0x88, 0x00}}));
    EXPECT_EQ(capture, Bytes(3, 0));
}

TEST_F(KprbembWire, WalksSendNothingWhenThereAndStopAtTheLimit) {
    const Bytes tms = {1, 1, 1, 1, 1, 0, 1, 1, 0, 0};  // UNKNOWN to SHIFT_IR
    Bytes walk1, walk2 = {0x10, 10, 0x01};
    for (uint8_t t : tms) {
        walk1.insert(walk1.end(), {0x02, static_cast<uint8_t>(0x02 + t)});
        walk2.push_back(t ? 0x80 : 0x00);
    }
    walk1.push_back(0x00);
    walk2.resize(512, 0x00);
    for (const char* preset : {"keenprobe", "keenprobe-c"}) {
        Cable* cable = open(preset);
        ASSERT_TRUE(cable);
        log_.events.clear();
        ASSERT_EQ(cable_tap_goto(cable, SHIFT_IR, 1), 1);
        EXPECT_EQ(log_.writes(), Writes{preset == std::string("keenprobe") ? walk1 : walk2});
        EXPECT_EQ(board().state(), sim::TapState::ShiftIr);
        log_.events.clear();
        EXPECT_EQ(cable_tap_goto(cable, SHIFT_IR, 1), 1);
        EXPECT_EQ(cable_tap_goto(cable, 99, 1), 0) << "a target no walk reaches";
        EXPECT_TRUE(log_.events.empty());
    }
}

TEST_F(KprbembWire, RuntestWaitsInTicksOrClocksAfterTheWalk) {
    Cable* cable = open("keenprobe");
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    log_.events.clear();
    const uint64_t tcks = board().tck_count(), ns = board().now_ns();
    ASSERT_EQ(cable_runtest(cable, SHIFT_DR, 1000, 50, "", 1, nullptr, nullptr), 1);
    EXPECT_EQ(log_.writes(), (Writes{{0x06, 0x0B, 0x02, 0x00, 0x00}}));
    EXPECT_EQ(board().tck_count(), tcks) << "a wait moves no TCK";
    EXPECT_GE(board().now_ns() - ns, 523u * 1910u);

    log_.events.clear();
    const Bytes tdi = every(12, 4);
    Bytes tdo(12, 0x55);
    ASSERT_EQ(cable_runtest(cable, SHIFT_DR, 0, 12, "", 0, tdi.data(), tdo.data()), 1);
    EXPECT_EQ(log_.writes(), (Writes{{0x02, 0x03, 0x02, 0x02, 0x02, 0x02, 0x00,  //
                                      0x08, 12, 0x02, 0x11, 0x01, 0x00}}));
    EXPECT_EQ(tdo, idcode_then(tdi));
    EXPECT_EQ(board().state(), sim::TapState::ShiftDr) << "TMS kept low";
}

TEST_F(KprbembWire, AFullQueueGoesOutMidCommandAndTheBoardStillRunsIt) {
    Cable* cable = open("keenprobe-c");
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    log_.events.clear();
    const uint64_t tcks = board().tck_count();
    ASSERT_EQ(cable_runtest(cable, UNKNOWN, 0, 40000, "", 0, nullptr, nullptr), 1);
    ASSERT_EQ(log_.writes().size(), 1u);
    EXPECT_EQ(log_.writes()[0].size(), 32768u);
    ASSERT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
    EXPECT_EQ(log_.stream().size(), 80u * 504 + 512);
    EXPECT_EQ(board().tck_count() - tcks, 40000u + 3);
    EXPECT_EQ(board().state(), sim::TapState::ShiftDr);
}

TEST_F(KprbembWire, PartialRepliesAreJoinedAndAMissingRestFailsWithoutStaleBits) {
    Cable* cable = in_shift_dr("keenprobe");
    const Bytes tdi = every(300, 3);
    Bytes capture;
    log_.read_limit = 100;
    ASSERT_EQ(shift(cable, tdi, capture), 1);
    EXPECT_EQ(log_.on(DEVOBJ_BULK_READ, DEVOBJ_PIPE_STREAM_IN).size(), 6u);
    EXPECT_EQ(capture, idcode_then(tdi));

    reenter_shift_dr(cable);
    log_.reads_until_empty = 1;  // 100 bytes arrive, then nothing
    EXPECT_EQ(shift(cable, tdi, capture), JTAG_DISCONNECTED);
    EXPECT_EQ(capture, Bytes(300, 0));
    EXPECT_EQ(cable_alive(cable), 0);
    log_.events.clear();
    EXPECT_EQ(shift(cable, tdi, capture), JTAG_DISCONNECTED);
    EXPECT_TRUE(log_.events.empty());
}

}  // namespace
}  // namespace vireo::test
