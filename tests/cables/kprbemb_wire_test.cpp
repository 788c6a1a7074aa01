// Bytes kprbemb puts on the wire in both protocols, and what it makes of the replies.
#include "kprbemb_fixture.h"

namespace vireo::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Writes = std::vector<Bytes>;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

class KprbembWire : public KprbembTest {
protected:
    int shift(Cable* cable, const Bytes& tdi, Bytes& capture, int nocap = 0, int flush = 1) {
        const Bytes mask(tdi.size(), 1);
        capture.assign(tdi.size(), 0x55);
        return cable_shift_inout(cable, static_cast<int>(tdi.size()), tdi.data(), mask.data(),
                                 nullptr, nullptr, capture.data(), 2, nocap, "", flush);
    }
};

TEST_F(KprbembWire, Protocol1CapturesInChunksOf256Bits) {
    Cable* cable = in_shift_dr("keenprobe");
    const uint32_t idcode = board_idcode();
    const Bytes tdi = every(300, 3);
    Bytes capture;
    ASSERT_EQ(shift(cable, tdi, capture), 1);
    const auto writes = stream_writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], concat({{0x08, 0x00, 0x02}, packed(tdi, 0, 256), {0x00}}));
    EXPECT_EQ(writes[1], concat({{0x08, 44, 0x03}, packed(tdi, 256, 44), {0x00}}));
    const auto reads = log_.on(DEVOBJ_BULK_READ, DEVOBJ_PIPE_STREAM_IN);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1]->bytes.size(), 256u);
    EXPECT_EQ(capture, idcode_then(tdi, idcode));
    EXPECT_EQ(board().state(), sim::TapState::Exit1Dr);

    // Exactly one chunk: the count byte 0 stands for 256.
    reenter_shift_dr(cable);
    const Bytes full = every(256, 5);
    ASSERT_EQ(shift(cable, full, capture), 1);
    EXPECT_EQ(stream_writes(), (Writes{concat({{0x08, 0x00, 0x03}, packed(full, 0, 256), {0x00}})}));
    EXPECT_EQ(capture, idcode_then(full, idcode));
}

TEST_F(KprbembWire, Protocol1WithoutCaptureQueuesAndMasksTdi) {
    Cable* cable = in_shift_dr("keenprobe");
    const Bytes tdi(20, 1), mask(20, 0);
    Bytes capture(20, 0x55);
    ASSERT_EQ(cable_shift_inout(cable, 20, tdi.data(), mask.data(), nullptr, nullptr,
                                capture.data(), 2, 1, "", 0), 1);
    EXPECT_TRUE(log_.events.empty()) << "no TDO to wait for, no flush: still queued";
    EXPECT_EQ(capture, Bytes(20, 0));
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    EXPECT_EQ(stream_writes(),
              (Writes{{0x08, 20, 0x01, 0, 0, 0, 0x00, 0x02, 0x03, 0x02, 0x02, 0x00}}));
    EXPECT_EQ(board().state(), sim::TapState::RunTestIdle);
}

TEST_F(KprbembWire, Protocol2ShiftsOneBytePerBitInPacketsOf500) {
    Cable* cable = in_shift_dr("keenprobe-c");
    const uint32_t idcode = board_idcode();
    const Bytes tdi = every(300, 7);
    Bytes capture;
    ASSERT_EQ(shift(cable, tdi, capture), 1);
    auto writes = stream_writes();
    ASSERT_EQ(writes.size(), 1u);
    Bytes expected = {0x11, 44, 0x02};
    for (int i = 0; i < 300; ++i) expected.push_back((tdi[i] ? 0x08 : 0) | (i == 299 ? 0x80 : 0));
    expected.push_back(0x00);
    EXPECT_EQ(writes[0], expected);
    ASSERT_EQ(log_.on(DEVOBJ_BULK_READ, DEVOBJ_PIPE_STREAM_IN).size(), 1u);
    EXPECT_EQ(capture, idcode_then(tdi, idcode));

    // 500 bits fill one packet, TMS on bit 499 only; 501 bits need a second one.
    for (int count : {500, 501}) {
        reenter_shift_dr(cable);
        const Bytes bits = every(count, 2);
        ASSERT_EQ(shift(cable, bits, capture, 0), 1);
        writes = stream_writes();
        ASSERT_EQ(writes.size(), count == 500 ? 1u : 2u);
        EXPECT_EQ(Bytes(writes[0].begin(), writes[0].begin() + 3), (Bytes{0x11, 244, 0x02}));
        for (int i = 0; i < 500; ++i) {
            const bool tms = count == 500 && i == 499;
            ASSERT_EQ(writes[0][3 + i], (bits[i] ? 0x08 : 0) | (tms ? 0x80 : 0)) << count << ":" << i;
        }
        if (count == 501) {
            EXPECT_EQ(writes[1], (Bytes{0x11, 1, 0x01, 0x88, 0x00})) << "bit 500 is 1";
        }
        EXPECT_EQ(capture, idcode_then(bits, idcode));
    }

    reenter_shift_dr(cable);
    ASSERT_EQ(shift(cable, Bytes{1, 0, 1}, capture, 2, 1), 1);
    EXPECT_EQ(stream_writes(), (Writes{{0x10, 3, 0x01, 0x08, 0x00, 0x88, 0x00}}));
    EXPECT_EQ(capture, Bytes(3, 0));
}

TEST_F(KprbembWire, WalksSendNothingWhenThereAndStopAtTheLimit) {
    // UNKNOWN to SHIFT_IR: TMS 1,1,1,1,1,0,1,1,0,0.
    const Bytes tms = {1, 1, 1, 1, 1, 0, 1, 1, 0, 0};
    Cable* cable = open("keenprobe");
    ASSERT_TRUE(cable);
    log_.events.clear();
    ASSERT_EQ(cable_tap_goto(cable, SHIFT_IR, 1), 1);
    Bytes walk1;
    for (uint8_t t : tms) walk1.insert(walk1.end(), {0x02, static_cast<uint8_t>(0x02 + t)});
    walk1.push_back(0x00);
    EXPECT_EQ(stream_writes(), Writes{walk1});
    EXPECT_EQ(board().state(), sim::TapState::ShiftIr);
    log_.events.clear();
    EXPECT_EQ(cable_tap_goto(cable, SHIFT_IR, 1), 1);
    EXPECT_EQ(cable_tap_goto(cable, 99, 1), 0) << "a target no walk reaches";
    EXPECT_TRUE(log_.events.empty());

    cable = open("keenprobe-c");
    ASSERT_TRUE(cable);
    log_.events.clear();
    ASSERT_EQ(cable_tap_goto(cable, SHIFT_IR, 1), 1);
    Bytes walk2 = {0x10, 10, 0x01};
    for (uint8_t t : tms) walk2.push_back(t ? 0x80 : 0x00);
    walk2.resize(511, 0x00);
    walk2.push_back(0x00);
    EXPECT_EQ(stream_writes(), Writes{walk2});
    EXPECT_EQ(board().state(), sim::TapState::ShiftIr);
}

TEST_F(KprbembWire, RuntestWaitsInTicksOrClocksAfterTheWalk) {
    Cable* cable = open("keenprobe");
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    log_.events.clear();
    const uint64_t tcks = board().tck_count(), ns = board().now_ns();
    ASSERT_EQ(cable_runtest(cable, SHIFT_DR, 1000, 50, "", 1, nullptr, nullptr), 1);
    EXPECT_EQ(stream_writes(), (Writes{{0x06, 0x0B, 0x02, 0x00, 0x00}}));
    EXPECT_EQ(board().tck_count(), tcks) << "a wait moves no TCK";
    EXPECT_GE(board().now_ns() - ns, 523u * 1910u);
    EXPECT_EQ(board().state(), sim::TapState::RunTestIdle);

    log_.events.clear();
    const Bytes tdi = every(12, 4);
    Bytes tdo(12, 0x55);
    ASSERT_EQ(cable_runtest(cable, SHIFT_DR, 0, 12, "", 0, tdi.data(), tdo.data()), 1);
    EXPECT_EQ(stream_writes(), (Writes{{0x02, 0x03, 0x02, 0x02, 0x02, 0x02, 0x00,  //
                                        0x08, 12, 0x02, 0x11, 0x01, 0x00}}));
    EXPECT_EQ(tdo, idcode_then(tdi, board_idcode())) << "TDO read, TMS kept low";
    EXPECT_EQ(board().state(), sim::TapState::ShiftDr);
}

TEST_F(KprbembWire, AFullQueueGoesOutMidCommandAndTheBoardStillRunsIt) {
    Cable* cable = open("keenprobe-c");
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    log_.events.clear();
    const uint64_t tcks = board().tck_count();
    ASSERT_EQ(cable_runtest(cable, UNKNOWN, 0, 40000, "", 0, nullptr, nullptr), 1);
    auto writes = stream_writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 32768u);
    ASSERT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
    writes = stream_writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size() + writes[1].size(), 80u * 504 + 512);
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
    EXPECT_EQ(capture, idcode_then(tdi, board_idcode()));

    ASSERT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
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
