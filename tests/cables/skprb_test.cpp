// skprb on its own: init and its replies, long shifts over packet ends, waits and clocks by link
// speed, short replies, options, and the shared library other hosts load.
#include "cables/skprb.h"

#include <dlfcn.h>

#include "usb_fixture.h"

namespace vireo::test {
namespace {

using Skprb = UsbWire;

// "TK" and the commands: one packet.
Bytes tk(const Bytes& commands) {
    return concat({{'T', 'K'}, commands});
}
// A flushed "S" chunk: length byte, mode, data, end byte.
Bytes chunk(int length_byte, int mode, const Bytes& data) {
    return tk(
        concat({{'S', static_cast<uint8_t>(length_byte), static_cast<uint8_t>(mode)}, data, {0}}));
}

TEST_F(Skprb, InitAsksVersionAndLinkSpeedAndRefusesOtherFirmware) {
    for (const char* speed : {"SuperSpeed", "HighSpeed"}) {
        const bool super = speed[0] == 'S';
        printed().clear();
        log_.transfers.clear();
        ASSERT_TRUE(open("skprb", super ? "kb2203" : "kb2204"));
        EXPECT_EQ(log_.writes(), (Writes{tk({'X'}), tk({'V'}), tk({'Q'})}));
        EXPECT_EQ(log_.transfers.back().max, 64);
        EXPECT_EQ(
            printed(),
            std::string(super ? "KB2203(ノーヴェルArtix-7ボード)" : "KB2204(ノーヴェルFX3ボード)") +
                "を発見しました\nNORVALE-FX3-JTAG firmware 1.05 (VireoJTAG virtual "
                "board)\nDetect USB3.0 " +
                speed + " mode");
        const char* text = nullptr;
        EXPECT_EQ(option(CABLE_OPT_DESCRIPTION, nullptr, &text), 1);
        EXPECT_EQ(text, "Norvale Artix-7 Board (" + std::string(speed) + ")");
        cable_.reset();
    }
    ASSERT_TRUE(open("skprb", "kb2203"));
    printed().clear();
    log_.fake_replies.push_back({'V', '1', '0', '5', ' ', 'O', 'T', 'H', 'E', 'R'});
    EXPECT_EQ(skprb_driver()->init(cable_.get()), 0);
    EXPECT_EQ(printed(), "Hardware error.");
}

// The rest of a short reply would start the next one: the link is out of step for good.
TEST_F(Skprb, AShortCaptureReplyLosesTheCableNotData) {
    ASSERT_TRUE(in_shift_dr("skprb", "kb2203"));
    Bytes capture(64, 9);
    log_.fake_replies.push_back({0xAA, 0xAA});
    EXPECT_EQ(shift(Bytes(64, 1), capture.data()), JTAG_DISCONNECTED);
    EXPECT_EQ(capture, Bytes(64, 9));
    EXPECT_EQ(shift(Bytes(64, 1), capture.data()), JTAG_DISCONNECTED);
}

// Deferred captures go out with what follows and are read later, in order, before any reply the
// host waits for, however many are on their way; a short reply among them loses the cable and
// leaves their bits 0.
TEST_F(Skprb, DeferredCapturesArriveInOrderBeforeTheNextWaitedReply) {
    ASSERT_TRUE(in_shift_dr("skprb", "kb2203"));
    std::vector<Bytes> tdi, captures;
    for (int k = 0; k < 6; ++k) {
        tdi.push_back(Bytes(40 + 7 * k));
        for (size_t i = 0; i < tdi[k].size(); ++i) tdi[k][i] = (i * (k + 3)) % 5 < 2;
        captures.push_back(Bytes(tdi[k].size(), 9));
    }
    for (int k = 0; k < 6; ++k) {
        ASSERT_EQ(cable_tap_goto(cable_.get(), RUNTEST_IDLE, 0), 1);
        ASSERT_EQ(cable_tap_goto(cable_.get(), SHIFT_DR, 0), 1);
        // Half of them alone in their packet: more replies on their way than the board holds.
        EXPECT_EQ(shift(tdi[k], captures[k].data(), kCableDeferCapture, k % 2), 1);
    }
    EXPECT_EQ(captures[5], Bytes(tdi[5].size(), 0)) << "not read yet";
    reenter_shift_dr(cable_.get());
    Bytes now(48, 9);
    EXPECT_EQ(shift(Bytes(48, 1), now.data()), 1);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(captures[k], idcode_then(tdi[k])) << k;
    EXPECT_EQ(now, idcode_then(Bytes(48, 1)));

    reenter_shift_dr(cable_.get());
    Bytes lost(64, 9);
    EXPECT_EQ(shift(Bytes(64, 1), lost.data(), kCableDeferCapture, 0), 1);
    log_.fake_replies.push_back({0xAA});
    EXPECT_EQ(option(CABLE_OPT_COLLECT, nullptr), JTAG_DISCONNECTED);
    EXPECT_EQ(lost, Bytes(64, 0));
    EXPECT_EQ(cable_alive(cable_.get()), 0);
}

TEST_F(Skprb, ALongWriteOnlyShiftSplitsAt32768Bytes) {
    Cable* cable = in_shift_dr("skprb", "kb2203");
    const int n = 300000;
    const Bytes tdi = every(n, 7);
    const uint64_t tck = board().tck_count();
    ASSERT_EQ(shift(tdi, nullptr, 1, 0), 1);
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    Bytes expected = {'T', 'K'};
    for (int start = 0; start < n; start += 256) {
        const int m = std::min(256, n - start);
        expected = concat(
            {expected, {'S', static_cast<uint8_t>(m), m + start == n}, packed(tdi, start, m)});
    }
    expected = concat({expected, {'M', 0x33, 'M', 0x32, 0x00}});
    const Writes writes = log_.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 32768u);
    EXPECT_EQ(concat({writes[0], Bytes(writes[1].begin() + 2, writes[1].end())}), expected);
    EXPECT_EQ(Bytes(writes[1].begin(), writes[1].begin() + 2), (Bytes{'T', 'K'}));
    EXPECT_EQ(board().tck_count() - tck, n + 2u) << "the chunk cut by the packet end clocks whole";
}

TEST_F(Skprb, RuntestWaitsOrClocksInChunksByLinkSpeed) {
    Cable* cable = in_shift_dr("skprb", "kb2203");
    uint64_t tck = board().tck_count();
    const uint64_t ns = board().now_ns();
    EXPECT_EQ(cable_runtest(cable, RUNTEST_IDLE, 1000, 77, "", 1, nullptr, nullptr), 1);
    EXPECT_EQ(log_.writes(), (Writes{tk({'W', 0xE8, 0x03, 0x00, 0x00}), tk({0x00})}))
        << "the wait, then its top byte once more";
    EXPECT_EQ(board().tck_count(), tck) << "a wait neither walks nor clocks";
    EXPECT_GE(board().now_ns() - ns, 1'000'000u);

    log_.transfers.clear();
    EXPECT_EQ(cable_runtest(cable, RUNTEST_IDLE, 0, 2500, "", 1, nullptr, nullptr), 1);
    EXPECT_EQ(
        log_.writes(),
        (Writes{tk({'M', 0x33, 'M', 0x33, 'M', 0x32, 0x00}), chunk(1000 & 0xFF, 0x00, Bytes(125)),
                chunk(1000 & 0xFF, 0x00, Bytes(125)), chunk(500 & 0xFF, 0x00, Bytes(63))}));
    EXPECT_EQ(board().tck_count() - tck, 3u + 2500u);

    // TDI and TDO: 1000-bit chunks, each read; TDO only: zero TDI bytes.
    reenter_shift_dr(cable);
    log_.transfers.clear();
    const Bytes tdi = every(1300, 3);
    Bytes tdo(1300, 9);
    ASSERT_EQ(cable_runtest(cable, UNKNOWN, 0, 1300, "", 1, tdi.data(), tdo.data()), 1);
    EXPECT_EQ(log_.writes(), (Writes{chunk(1000 & 0xFF, 0x02, packed(tdi, 0, 1000)),
                                     chunk(300 & 0xFF, 0x02, packed(tdi, 1000, 300))}));
    EXPECT_EQ(log_.reads(), 2u);
    EXPECT_EQ(tdo, idcode_then(tdi));
    ASSERT_EQ(cable_runtest(cable, UNKNOWN, 0, 1000, "", 1, nullptr, tdo.data()), 1);
    EXPECT_EQ(log_.writes().back(), chunk(1000 & 0xFF, 0x02, Bytes(125)));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(tdo[i], i < 32 ? tdi[1268 + i] : 0) << i;

    // High speed, TDI only: "F" commands of 480 bits, one byte per bit; reads of 512 at most.
    cable = in_shift_dr("skprb", "kb2204");
    tck = board().tck_count();
    EXPECT_EQ(cable_runtest(cable, UNKNOWN, 0, 1000, "", 1, tdi.data(), nullptr), 1);
    const Writes writes = log_.writes();
    ASSERT_EQ(writes.size(), 3u) << "480 + 480 + 40";
    EXPECT_EQ(writes[2], tk(concat({{'F', 40, 0}, Bytes(&tdi[960], &tdi[1000]), {0x00}})));
    EXPECT_EQ(board().tck_count() - tck, 1000u);
    ASSERT_EQ(shift(tdi, tdo.data()), 1);
    EXPECT_EQ(log_.transfers.back().max, 512);
}

TEST_F(Skprb, OptionsWithoutACommandAnswer17) {
    ASSERT_TRUE(open("skprb", "kb2203"));
    log_.transfers.clear();
    const int on = 1;
    EXPECT_EQ(option(CABLE_OPT_NONE, nullptr), 1);
    EXPECT_EQ(option(CABLE_OPT_LOCK, &on), 17);
    EXPECT_EQ(option(22, nullptr), 17);
    EXPECT_TRUE(log_.transfers.empty());
}

TEST(SkprbLibrary, ExportsOnlyTheDriverEntryPoints) {
    void* library = dlopen("./libvireo_skprb.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    for (const char* name :
         {"skprb_get_cableinfo", "skprb_open", "skprb_init", "skprb_close", "skprb_tap_goto",
          "skprb_shift_inout", "skprb_runtest", "skprb_option"})
        EXPECT_TRUE(dlsym(library, name)) << name;
    EXPECT_FALSE(dlsym(library, "fx3_open"));
    auto info =
        reinterpret_cast<const SkprbCableInfo* (*)()>(dlsym(library, "skprb_get_cableinfo"));
    ASSERT_TRUE(info);
    EXPECT_STREQ(info()->long_name, "Norvale SuperKeenProbe");
    dlclose(library);
}

}  // namespace
}  // namespace vireo::test
