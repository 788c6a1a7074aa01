// skprb byte for byte: the packets it writes and the replies it reads, over the virtual board.
#include <dlfcn.h>

#include <cstring>
#include <string>

#include "skprb_fixture.h"

namespace vireo::test {
namespace {

using SkprbWire = SkprbTest;

// "S", length byte, mode, data, end byte: one flushed chunk.
std::vector<uint8_t> chunk(int length_byte, int mode, std::vector<uint8_t> data) {
    data.insert(data.begin(), {'S', static_cast<uint8_t>(length_byte), static_cast<uint8_t>(mode)});
    data.push_back(0x00);
    return packet(data);
}

TEST_F(SkprbWire, OpenAndInitAskForVersionAndLinkSpeed) {
    ASSERT_TRUE(open("kb2203"));
    ASSERT_EQ(log_.transfers.size(), 5u);
    EXPECT_EQ(log_.transfers[0].bytes, packet({'X'}));
    EXPECT_EQ(log_.transfers[1].bytes, packet({'V'}));
    EXPECT_EQ(log_.transfers[3].bytes, packet({'Q'}));
    EXPECT_EQ(log_.transfers[4].max, 64);
    EXPECT_EQ(printed(),
              "KB2203(ノーヴェルArtix-7ボード)を発見しました\n"
              "NORVALE-FX3-JTAG firmware 1.05 (VireoJTAG virtual board)\n"
              "Detect USB3.0 SuperSpeed mode");

    printed().clear();
    ASSERT_TRUE(open("kb2204"));
    EXPECT_EQ(printed(),
              "KB2204(ノーヴェルFX3ボード)を発見しました\n"
              "NORVALE-FX3-JTAG firmware 1.05 (VireoJTAG virtual board)\n"
              "Detect USB3.0 HighSpeed mode");
    const char* text = nullptr;
    EXPECT_EQ(cable_option(cable_.get(), CABLE_OPT_DESCRIPTION, nullptr, 0, &text, 0, nullptr), 1);
    EXPECT_STREQ(text, "Norvale Artix-7 Board (HighSpeed)");

    // A "V" reply without the firmware's identification text.
    printed().clear();
    log_.fake_replies.push_back({'V', '1', '0', '5', ' ', 'O', 'T', 'H', 'E', 'R'});
    EXPECT_EQ(skprb_init(cable_.get()), 0);
    EXPECT_EQ(printed(), "Hardware error.");
}

TEST_F(SkprbWire, TapWalksAreMStepsClosedByTheEndByte) {
    Cable* cable = open("kb2203");
    ASSERT_TRUE(cable);
    log_.transfers.clear();
    // From the unknown state: five TMS-high steps; then already there, nothing sent.
    EXPECT_EQ(cable_tap_goto(cable, TEST_LOGIC_RESET, 1), 1);
    EXPECT_EQ(cable_tap_goto(cable, TEST_LOGIC_RESET, 1), 1);
    EXPECT_EQ(log_.writes(), std::vector<std::vector<uint8_t>>{packet(
                                 {'M', 0x33, 'M', 0x33, 'M', 0x33, 'M', 0x33, 'M', 0x33, 0x00})});

    // Without flush the steps wait for the next packet.
    EXPECT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 0), 1);
    EXPECT_EQ(cable_tap_goto(cable, SHIFT_IR, 1), 1);
    ASSERT_EQ(log_.writes().size(), 2u);
    EXPECT_EQ(log_.writes()[1],
              packet({'M', 0x32, 0x00, 'M', 0x33, 'M', 0x33, 'M', 0x32, 'M', 0x32, 0x00}));
    EXPECT_EQ(board().state(), sim::TapState::ShiftIr);
    EXPECT_EQ(cable_tap_goto(cable, 99, 1), 0) << "no such state";
}

TEST_F(SkprbWire, A300BitCaptureIsTwoChunksEachFlushedAndRead) {
    Cable* cable = in_shift_dr("kb2203");
    const std::vector<uint8_t> tdi = every(300, 3);
    std::vector<uint8_t> capture(300, 9);
    ASSERT_EQ(shift(cable, tdi, 2, 0, 0, capture.data()), 1);
    ASSERT_EQ(log_.transfers.size(), 4u);
    EXPECT_EQ(log_.transfers[0].bytes, chunk(0x00, 0x02, packed(tdi, 0, 256)));
    EXPECT_EQ(log_.transfers[1].max, 1024);
    EXPECT_EQ(log_.transfers[2].bytes, chunk(44, 0x03, packed(tdi, 256, 44)));
    EXPECT_EQ(log_.transfers[3].bytes.size(), 6u);
    EXPECT_EQ(capture, idcode_then(tdi, board_idcode()));
    EXPECT_EQ(board().state(), sim::TapState::Exit1Dr);
    // The recorded state follows: Exit1-DR to Update-DR is one step.
    EXPECT_EQ(cable_tap_goto(cable, UPDATE_DR, 1), 1);
    EXPECT_EQ(log_.writes().back(), packet({'M', 0x33, 0x00}));
}

TEST_F(SkprbWire, LastChunksFlushesAndTheTdiMask) {
    Cable* cable = in_shift_dr("kb2204");
    const std::vector<uint8_t> tdi = every(256, 5);
    std::vector<uint8_t> capture(256, 9);
    ASSERT_EQ(shift(cable, tdi, 1, 0, 1, capture.data()), 1);
    EXPECT_EQ(log_.transfers.at(0).bytes, chunk(0x00, 0x03, packed(tdi, 0, 256)));
    EXPECT_EQ(log_.transfers.at(1).max, 512) << "high speed";
    // Recorded as Exit1-IR (kind 1): Update-IR is one step away.
    EXPECT_EQ(cable_tap_goto(cable, UPDATE_IR, 1), 1);
    EXPECT_EQ(log_.writes().back(), packet({'M', 0x33, 0x00}));

    ASSERT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
    log_.transfers.clear();
    ASSERT_EQ(shift(cable, tdi, 2, 1, 1, capture.data()), 1);
    EXPECT_EQ(log_.writes().at(0), chunk(0x00, 0x01, packed(tdi, 0, 256)));
    EXPECT_EQ(capture, std::vector<uint8_t>(256, 0)) << "flushed without capture: zeros";

    // Unflushed and masked off: nothing sent or written until a flush carries it.
    ASSERT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
    log_.transfers.clear();
    const std::vector<uint8_t> ones(20, 1), zero_mask(20, 0);
    EXPECT_EQ(cable_shift_inout(cable, 20, ones.data(), zero_mask.data(), nullptr, nullptr,
                                capture.data(), 2, 2, "", 0),
              1);
    EXPECT_EQ(shift(cable, {}, 2, 0, 1, capture.data()), 1) << "zero bits";
    EXPECT_TRUE(log_.transfers.empty());
    EXPECT_EQ(capture[0], 0);
    EXPECT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);
    EXPECT_EQ(log_.writes().at(0), packet({'S', 20, 0x01, 0, 0, 0, 'M', 0x33, 'M', 0x32, 0x00}));
}

TEST_F(SkprbWire, ALongWriteOnlyShiftSplitsAt32768Bytes) {
    Cable* cable = in_shift_dr("kb2203");
    const int n = 300000;
    const std::vector<uint8_t> tdi = every(n, 7);
    const uint64_t tck = board().tck_count();
    ASSERT_EQ(shift(cable, tdi, 2, 1, 0, nullptr), 1);
    ASSERT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 1), 1);

    std::vector<uint8_t> expected;
    for (int start = 0; start < n; start += 256) {
        const int m = std::min(256, n - start);
        expected.insert(expected.end(), {'S', static_cast<uint8_t>(m), m + start == n});
        const std::vector<uint8_t> data = packed(tdi, start, m);
        expected.insert(expected.end(), data.begin(), data.end());
    }
    expected.insert(expected.end(), {'M', 0x33, 'M', 0x32, 0x00});
    const auto writes = log_.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 32768u);
    std::vector<uint8_t> sent;
    for (const auto& w : writes) {
        ASSERT_EQ(std::string(w.begin(), w.begin() + 2), "TK");
        sent.insert(sent.end(), w.begin() + 2, w.end());
    }
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(board().tck_count() - tck, static_cast<uint64_t>(n) + 2)
        << "the chunk cut by the packet end still clocks whole";
}

TEST_F(SkprbWire, RuntestWaitsOrClocksInChunksByLinkSpeed) {
    Cable* cable = in_shift_dr("kb2203");
    uint64_t tck = board().tck_count();
    const uint64_t ns = board().now_ns();
    EXPECT_EQ(cable_runtest(cable, RUNTEST_IDLE, 1000, 77, "", 1, nullptr, nullptr), 1);
    EXPECT_EQ(log_.writes(), (std::vector<std::vector<uint8_t>>{
                                 packet({'W', 0xE8, 0x03, 0x00, 0x00}), packet({0x00})}))
        << "the wait, then its top byte once more";
    EXPECT_EQ(board().tck_count(), tck) << "a wait neither walks nor clocks";
    EXPECT_GE(board().now_ns() - ns, 1'000'000u);

    log_.transfers.clear();
    EXPECT_EQ(cable_runtest(cable, RUNTEST_IDLE, 0, 2500, "", 1, nullptr, nullptr), 1);
    auto writes = log_.writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0], packet({'M', 0x33, 'M', 0x33, 'M', 0x32, 0x00}));
    EXPECT_EQ(writes[1], chunk(1000 & 0xFF, 0x00, std::vector<uint8_t>(125)));
    EXPECT_EQ(writes[3], chunk(500 & 0xFF, 0x00, std::vector<uint8_t>(63)));
    EXPECT_EQ(board().tck_count() - tck, 3u + 2500u) << "whole chunks clocked";
    EXPECT_EQ(board().state(), sim::TapState::RunTestIdle);

    Cable* hs = in_shift_dr("kb2204");
    const std::vector<uint8_t> tdi = every(1000, 3);
    tck = board().tck_count();
    EXPECT_EQ(cable_runtest(hs, UNKNOWN, 0, 1000, "", 1, tdi.data(), nullptr), 1);
    writes = log_.writes();
    ASSERT_EQ(writes.size(), 3u) << "480 + 480 + 40";
    std::vector<uint8_t> last = {'F', 40, 0};
    last.insert(last.end(), tdi.begin() + 960, tdi.end());
    last.push_back(0x00);
    EXPECT_EQ(writes[2], packet(last));
    EXPECT_EQ(board().tck_count() - tck, 1000u);
}

TEST_F(SkprbWire, RuntestCapturesTdoInLongChunks) {
    Cable* cable = in_shift_dr("kb2203");
    const std::vector<uint8_t> tdi = every(1300, 3);
    std::vector<uint8_t> tdo(1300, 9);
    ASSERT_EQ(cable_runtest(cable, UNKNOWN, 0, 1300, "", 1, tdi.data(), tdo.data()), 1);
    ASSERT_EQ(log_.transfers.size(), 4u);
    EXPECT_EQ(log_.transfers[0].bytes, chunk(1000 & 0xFF, 0x02, packed(tdi, 0, 1000)));
    EXPECT_EQ(log_.transfers[1].bytes.size(), 125u);
    EXPECT_EQ(tdo, idcode_then(tdi, board_idcode()));

    // TDO only: zero TDI bytes; the register's contents come back.
    ASSERT_EQ(cable_runtest(cable, UNKNOWN, 0, 1000, "", 1, nullptr, tdo.data()), 1);
    EXPECT_EQ(log_.writes().back(), chunk(1000 & 0xFF, 0x02, std::vector<uint8_t>(125)));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(tdo[i], i < 32 ? tdi[1268 + i] : 0) << i;
}

TEST_F(SkprbWire, AShortCaptureReplyIsAFailureNotData) {
    Cable* cable = in_shift_dr("kb2203");
    std::vector<uint8_t> capture(64, 9);
    log_.fake_replies.push_back({0xAA, 0xAA});
    EXPECT_EQ(shift(cable, std::vector<uint8_t>(64, 1), 2, 0, 1, capture.data()), 0);
    EXPECT_EQ(capture, std::vector<uint8_t>(64, 9));
}

TEST_F(SkprbWire, OptionsPinsAndDescription) {
    Cable* cable = open("kb2203");
    ASSERT_TRUE(cable);
    log_.transfers.clear();
    const int on = 1;
    EXPECT_EQ(cable_option(cable, CABLE_OPT_NONE, nullptr, 0, nullptr, 0, nullptr), 1);
    EXPECT_EQ(cable_option(cable, CABLE_OPT_LOCK, &on, 0, nullptr, 0, nullptr), 17);
    EXPECT_EQ(cable_option(cable, 22, nullptr, 0, nullptr, 0, nullptr), 17);
    EXPECT_EQ(cable_option(cable, CABLE_OPT_DRAWING, nullptr, 0, nullptr, 0, nullptr), 0);
    EXPECT_TRUE(log_.transfers.empty());
    const char* const* drawing = nullptr;
    ASSERT_EQ(cable_option(cable, CABLE_OPT_DRAWING, nullptr, 0, &drawing, 0, nullptr), 1);
    EXPECT_STREQ(drawing[16], "rpin\t\t-40\t-40\t-32\t-48\tblack\tGND");
    EXPECT_FALSE(drawing[17]);

    auto query = [&](int index) {
        CablePin pin;
        pin.state = -1;
        const int rc = cable_option(cable, CABLE_OPT_PIN_INFO, &index, 0, &pin, 0, nullptr);
        return std::to_string(rc) + ":" + std::to_string(pin.kind) + ":" +
               std::to_string(pin.state) + ":" + pin.name;
    };
    EXPECT_EQ(query(7), "1:6:1:P0") << "0x33: P0 driven high";
    EXPECT_EQ(query(9), "1:6:4:P2") << "released, low";
    EXPECT_EQ(query(12), "1:4:4:VREF");
    EXPECT_EQ(query(13), "0:0:-1:");

    CablePin request;
    request.state = 1;
    std::strcpy(request.name, "P2");
    EXPECT_EQ(cable_option(cable, CABLE_OPT_PIN_DRIVE, &request, 0, nullptr, 0, nullptr), 1);
    request.state = 8;
    std::strcpy(request.name, "P0");
    EXPECT_EQ(cable_option(cable, CABLE_OPT_PIN_DRIVE, &request, 0, nullptr, 0, nullptr), 1);
    EXPECT_EQ(log_.writes(),
              (std::vector<std::vector<uint8_t>>{packet({0x03, 0x77}), packet({0x03, 0x67})}));
    EXPECT_EQ(query(9), "1:6:1:P2");
    EXPECT_EQ(query(7), "1:6:5:P0") << "released, level bit still set";

    log_.transfers.clear();
    EXPECT_EQ(cable_option(cable, CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr), 1);
    EXPECT_EQ(log_.writes().at(0), packet({'Q'}));
}

TEST_F(SkprbWire, TheSharedLibraryExportsTheEntryPoints) {
    void* library = dlopen("./libvireo_skprb.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    for (const char* name :
         {"skprb_get_cableinfo", "skprb_open", "skprb_init", "skprb_close", "skprb_tap_goto",
          "skprb_shift_inout", "skprb_runtest", "skprb_option"})
        EXPECT_TRUE(dlsym(library, name)) << name;
    EXPECT_FALSE(dlsym(library, "fx3_open")) << "only the driver's entry points";
    auto get_info =
        reinterpret_cast<const SkprbCableInfo* (*)()>(dlsym(library, "skprb_get_cableinfo"));
    ASSERT_TRUE(get_info);
    const SkprbCableInfo* info = get_info();
    EXPECT_EQ(info->interface_version, 0xC199);
    EXPECT_STREQ(info->long_name, "Norvale SuperKeenProbe");
    EXPECT_EQ(info->values[4], 1200000);
    dlclose(library);
}

}  // namespace
}  // namespace vireo::test
