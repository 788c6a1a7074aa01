// What both USB drivers put on the wire for the same requests: skprb's "TK" packets, kprbemb's
// protocol 1 (TDI packed eight bits to a byte) and protocol 2 (one byte per TCK).
#include <cstring>

#include "cables/connector.h"
#include "usb_fixture.h"

namespace vireo::test {
namespace {

// A command head, its data and the end byte.
Bytes cmd(Bytes head, const Bytes& data = {}) {
    return concat({head, data, {0x00}});
}
// "TK" and the commands: one skprb packet.
Bytes tk(Bytes commands) {
    return concat({{'T', 'K'}, commands});
}
// Protocol 2 bits: TDI in bit 3, TMS (raised on the last bit) in bit 7.
Bytes per_bit(const Bytes& tdi, int first, int n, bool exit) {
    Bytes out(n);
    for (int i = 0; i < n; ++i)
        out[i] = (tdi[first + i] ? 0x08 : 0) | (exit && i == n - 1 ? 0x80 : 0);
    return out;
}

TEST_F(UsbWire, CapturesAreChunkedFlushedReadAndUnpacked) {
    const Bytes t256 = every(256, 3), t300 = every(300, 3), t500 = every(500, 7),
                t501 = every(501, 7);
    const struct {
        const char* driver;
        const char* sim;
        const Bytes& tdi;
        Writes sent;
    } cases[] = {
        {"skprb",
         "kb2203",
         t300,
         // One exchange; the short chunk first, so that the batch never reads as a long chunk.
         {tk(concat({{'S', 44, 0x02},
                     packed(t300, 0, 44),
                     cmd({'S', 0x00, 0x03}, packed(t300, 44, 256))}))}},
        {"skprb", "kb2203", t256, {tk(cmd({'S', 0x00, 0x03}, packed(t256, 0, 256)))}},
        {"kprbemb",
         "keenprobe",
         t300,
         {cmd({0x08, 0x00, 0x02}, packed(t300, 0, 256)),
          cmd({0x08, 44, 0x03}, packed(t300, 256, 44))}},
        {"kprbemb", "keenprobe", t256, {cmd({0x08, 0x00, 0x03}, packed(t256, 0, 256))}},
        {"kprbemb", "keenprobe-c", t300, {cmd({0x11, 44, 0x02}, per_bit(t300, 0, 300, true))}},
        {"kprbemb",
         "keenprobe-c",
         t500,
         {cmd({0x11, 500 & 0xFF, 0x02}, per_bit(t500, 0, 500, true))}},
        {"kprbemb",
         "keenprobe-c",
         t501,
         // Whole-packet replies: both chunks in one write, their replies in one read.
         {concat({cmd({0x11, 500 & 0xFF, 0x02}, per_bit(t501, 0, 500, false)),
                  {0x11, 1, 0x01, 0x80, 0x00}})}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sim) + ", " + std::to_string(c.tdi.size()) + " bits");
        ASSERT_TRUE(in_shift_dr(c.driver, c.sim));
        Bytes capture(c.tdi.size(), 9);
        const int kind = c.tdi.size() == 256 ? 1 : 2;  // recorded as Exit1-IR or Exit1-DR
        ASSERT_EQ(shift(c.tdi, capture.data(), 0, 0, kind), 1) << "a capture flushes by itself";
        EXPECT_EQ(log_.writes(), c.sent);
        // One read per batch; a batch may go out before the previous one's reply is read.
        ASSERT_EQ(log_.transfers.size(), 2 * c.sent.size());
        size_t reads = 0;
        for (const Transfer& t : log_.transfers) {
            if (t.out) continue;
            EXPECT_LE(++reads, c.sent.size());
            EXPECT_EQ(t.max, c.driver[0] == 's' ? 1024 : 0);  // super speed: 1024 bytes
        }
        EXPECT_EQ(capture, idcode_then(c.tdi));
        EXPECT_EQ(board().state(), sim::TapState::Exit1Dr);
        EXPECT_EQ(cable_tap_goto(cable_.get(), kind == 1 ? UPDATE_IR : UPDATE_DR, 1), 1);
        EXPECT_EQ(board().state(), sim::TapState::UpdateDr) << "one step from the recorded state";
    }
}

TEST_F(UsbWire, ShiftsWithoutCaptureSendTdiMaskedAndWaitForAFlush) {
    const Bytes t256 = every(256, 5), ones(20, 1), none(20, 0);
    const struct {
        const char* driver;
        const char* sim;
        const Bytes &tdi, &mask;
        int flush;
        Bytes sent;
    } cases[] = {
        {"skprb", "kb2203", t256, t256, 1, tk(cmd({'S', 0x00, 0x01}, packed(t256, 0, 256)))},
        {"kprbemb", "keenprobe-c", t256, t256, 1,
         cmd({0x10, 0x00, 0x01}, per_bit(t256, 0, 256, true))},
        // Masked off and unflushed, then carried by the walk to Run-Test/Idle.
        {"skprb", "kb2203", ones, none, 0,
         tk({'S', 20, 0x01, 0, 0, 0, 'M', 0x33, 'M', 0x32, 0x00})},
        {"kprbemb",
         "keenprobe",
         ones,
         none,
         0,
         {0x08, 20, 0x01, 0, 0, 0, 0x00, 0x02, 0x03, 0x02, 0x02, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sim) + (c.flush ? " flushed" : " unflushed"));
        ASSERT_TRUE(in_shift_dr(c.driver, c.sim));
        Bytes capture(c.tdi.size(), 9);
        ASSERT_EQ(
            cable_shift_inout(cable_.get(), static_cast<int>(c.tdi.size()), c.tdi.data(),
                              c.mask.data(), nullptr, nullptr, capture.data(), 2, 1, "", c.flush),
            1);
        if (c.flush) {
            EXPECT_EQ(capture, Bytes(c.tdi.size(), 0)) << "no capture: zeros";
        }
        EXPECT_EQ(shift({}, capture.data()), 1) << "zero bits";
        if (!c.flush) {
            EXPECT_TRUE(log_.transfers.empty());
            EXPECT_EQ(cable_tap_goto(cable_.get(), RUNTEST_IDLE, 1), 1);
        }
        EXPECT_EQ(log_.writes(), Writes{c.sent});
        EXPECT_EQ(log_.reads(), 0u);
    }
}

TEST_F(UsbWire, WalksSendTmsStepsAndNothingWhenAlreadyThere) {
    const Bytes tms = {1, 1, 1, 1, 1, 0, 1, 1, 0, 0};  // UNKNOWN to SHIFT_IR
    Bytes skprb, protocol1, protocol2 = {0x10, 10, 0x01};
    for (uint8_t t : tms) {
        skprb.insert(skprb.end(), {'M', static_cast<uint8_t>(t ? 0x33 : 0x32)});
        protocol1.insert(protocol1.end(), {0x02, static_cast<uint8_t>(0x02 + t)});
        protocol2.push_back(t ? 0x80 : 0x00);
    }
    protocol2.resize(511, 0x00);
    const struct {
        const char* driver;
        const char* sim;
        Bytes walk;
    } cases[] = {{"skprb", "kb2203", tk(cmd(skprb))},
                 {"kprbemb", "keenprobe", cmd(protocol1)},
                 {"kprbemb", "keenprobe-c", cmd(protocol2)}};
    for (const auto& c : cases) {
        ASSERT_TRUE(open(c.driver, c.sim));
        log_.transfers.clear();
        ASSERT_EQ(cable_tap_goto(cable_.get(), SHIFT_IR, 1), 1);
        EXPECT_EQ(log_.writes(), Writes{c.walk}) << c.sim;
        EXPECT_EQ(board().state(), sim::TapState::ShiftIr);
        log_.transfers.clear();
        EXPECT_EQ(cable_tap_goto(cable_.get(), SHIFT_IR, 1), 1);
        EXPECT_EQ(cable_tap_goto(cable_.get(), 99, 1), 0) << "a target no walk reaches";
        EXPECT_TRUE(log_.transfers.empty()) << c.sim;
    }
    // UNKNOWN is a target too: one TMS-low clock, the first half of a full reset.
    ASSERT_TRUE(open("skprb", "kb2203"));
    ASSERT_EQ(cable_tap_goto(cable_.get(), SHIFT_IR, 1), 1);
    log_.transfers.clear();
    EXPECT_EQ(cable_tap_goto(cable_.get(), UNKNOWN, 1), 1);
    EXPECT_EQ(log_.writes(), Writes{tk(cmd({'M', 0x32}))});
    EXPECT_EQ(cable_tap_goto(cable_.get(), TEST_LOGIC_RESET, 1), 1);
    EXPECT_EQ(board().state(), sim::TapState::TestLogicReset);
}

TEST_F(UsbWire, PinsDrawingAndAliveCheck) {
    const struct {
        const char* driver;
        const char* sim;
        Bytes head;  // of every packet
        uint32_t alive_pipe;
        Bytes alive;
    } cases[] = {{"skprb", "kb2203", {'T', 'K'}, DEVOBJ_PIPE_STREAM_OUT, {'T', 'K', 'Q'}},
                 {"kprbemb", "keenprobe", {}, DEVOBJ_PIPE_CONTROL_OUT, {0x06}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.driver);
        ASSERT_TRUE(open(c.driver, c.sim));
        log_.transfers.clear();
        const char* const* drawing = nullptr;
        ASSERT_EQ(option(CABLE_OPT_DRAWING, nullptr, &drawing), 1);
        EXPECT_EQ(drawing, cable_connector::kDrawing);
        auto query = [&](int index) {
            CablePin pin;
            std::strcpy(pin.name, "junk");
            const int rc = option(CABLE_OPT_PIN_INFO, &index, &pin);
            return std::to_string(rc) + ":" + std::to_string(pin.kind) + ":" +
                   (rc ? std::to_string(pin.state) + ":" : "") + pin.name;
        };
        EXPECT_EQ(query(7), "1:6:1:P0") << "0x33: P0 driven high";
        EXPECT_EQ(query(9), "1:6:4:P2") << "released, low";
        EXPECT_EQ(query(12), "1:4:4:VREF") << "target power not known";
        EXPECT_EQ(query(13), "0:0:");
        CablePin request;
        for (const auto& [name, state] : {std::pair{"P2", 1}, std::pair{"P0", 8}}) {
            std::strcpy(request.name, name);
            request.state = state;
            EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &request), 1);
        }
        EXPECT_EQ(log_.writes(),
                  (Writes{concat({c.head, {0x03, 0x77}}), concat({c.head, {0x03, 0x67}})}));
        EXPECT_EQ(query(9), "1:6:1:P2");
        EXPECT_EQ(query(7), "1:6:5:P0") << "released, level bit still set";

        log_.transfers.clear();
        EXPECT_EQ(option(CABLE_OPT_ALIVE, nullptr), 1);
        EXPECT_EQ(log_.writes(c.alive_pipe), Writes{c.alive});
        board_->unplug();
        EXPECT_EQ(option(CABLE_OPT_ALIVE, nullptr), JTAG_DISCONNECTED);
        EXPECT_EQ(cable_alive(cable_.get()), 0);
    }
}

TEST_F(UsbWire, AnyNonzeroByteIsAOneInTdiAndMaskOnBothDrivers) {
    const Bytes tdi = {1, 2, 0x80, 0, 1, 0xFF, 0, 1}, mask = {2, 1, 0x01, 1, 0, 0x10, 0, 0x40};
    const uint8_t driven = 0xA7;  // bits 0, 1, 2, 5 and 7
    const struct {
        const char* driver;
        const char* sim;
        Bytes sent;
    } cases[] = {{"skprb", "kb2203", tk(cmd({'S', 8, 0x01}, {driven}))},
                 {"kprbemb", "keenprobe", cmd({0x08, 8, 0x01}, {driven})}};
    for (const auto& c : cases) {
        ASSERT_TRUE(in_shift_dr(c.driver, c.sim));
        EXPECT_EQ(cable_shift_inout(cable_.get(), 8, tdi.data(), mask.data(), nullptr, nullptr,
                                    nullptr, 2, 1, "", 1),
                  1);
        EXPECT_EQ(log_.writes(), Writes{c.sent}) << c.driver;
    }
}

TEST_F(UsbWire, UserPinsFollowOneRuleOnBothDrivers) {
    // Applied in order from the register at open, 0x33; `sends` is the register the pin command
    // carries, -1 for nothing on the wire.
    const struct {
        const char* name;
        int state;
        int sends;
    } cases[] = {
        {"TCK", 1, -1}, {"vcc", 0, -1},  {"P1", 5, -1},   {"P3 ", 1, -1},  {"P", 1, -1},
        {"", 1, -1},    {"P2", 1, 0x77}, {"p2", 0, 0x73}, {"P0", 9, 0x63}, {"p3", 3, 0xEB},
    };
    for (const char* driver : {"skprb", "kprbemb"}) {
        SCOPED_TRACE(driver);
        ASSERT_TRUE(open(driver, driver[0] == 's' ? "kb2203" : "keenprobe"));
        const Bytes head = driver[0] == 's' ? Bytes{'T', 'K'} : Bytes{};
        for (const auto& c : cases) {
            log_.transfers.clear();
            CablePin request;
            std::strcpy(request.name, c.name);
            request.state = c.state;
            EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &request), 1) << c.name;
            const Writes sent =
                c.sends < 0 ? Writes{} : Writes{concat({head, {0x03, uint8_t(c.sends)}})};
            EXPECT_EQ(log_.writes(), sent) << c.name << " state " << c.state;
        }
        // A name filling all 20 bytes, unterminated, names no pin.
        CablePin unterminated;
        std::memset(unterminated.name, 'P', sizeof unterminated.name);
        unterminated.state = 1;
        log_.transfers.clear();
        EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &unterminated), 1);
        EXPECT_TRUE(log_.transfers.empty());
        const std::pair<int, int> states[] = {{7, 5}, {8, 1}, {9, 0}, {10, 1}};  // P0 released
        for (const auto& [index, state] : states) {
            CablePin pin;
            EXPECT_EQ(option(CABLE_OPT_PIN_INFO, &index, &pin), 1);
            EXPECT_EQ(pin.state, state) << pin.name;
        }
        board_->unplug();
        CablePin p1;
        std::strcpy(p1.name, "P1");
        p1.state = 0;
        EXPECT_EQ(option(CABLE_OPT_PIN_DRIVE, &p1), JTAG_DISCONNECTED);
        EXPECT_EQ(cable_alive(cable_.get()), 0);
    }
}

}  // namespace
}  // namespace vireo::test
