#include "cables/cable.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cables/bit_pack.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "sim/xilinx_fpga.h"
#include "support/sim_cable.h"

namespace vireo::test {
namespace {

// A driver that records which slots the cable layer called.
std::vector<std::string> g_calls;
bool g_open_succeeds = true;
bool g_keep_state = true;
int g_record = 0;

void* fake_open(Cable* cable, const char* param) {
    g_calls.push_back(std::string("open:") + param);
    cable->state = &g_record;  // stored at once, so close can release it on failure
    if (!g_open_succeeds) return nullptr;
    return cable->state;
}
int fake_init(Cable* cable) {
    g_calls.push_back("init");
    if (!g_keep_state) cable->state = nullptr;
    return 0;  // not consulted
}
int fake_close(Cable*) {
    g_calls.push_back("close");
    return 1;
}
int fake_option(Cable*, int code, const void*, int, void*, int, int*) {
    g_calls.push_back("option:" + std::to_string(code));
    return JTAG_UNSUPPORTED;
}

CableDriver fake_driver() {
    CableDriver d;
    d.open = fake_open;
    d.init = fake_init;
    d.close = fake_close;
    d.option = fake_option;
    return d;
}

class CableLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        g_calls.clear();
        g_open_succeeds = true;
        g_keep_state = true;
    }
};

TEST_F(CableLayer, NamesWithoutADriverGiveNoCable) {
    EXPECT_EQ(cable_new("", nullptr, ""), nullptr);
    EXPECT_EQ(cable_new("", "null cable", ""), nullptr);
    EXPECT_EQ(cable_new("", "parport", ""), nullptr);
}

TEST_F(CableLayer, OpenInitAndFreeInOrderWithTextsCopied) {
    std::string param = "speed=6";
    Cable* cable = cable_new_with_driver(fake_driver(), nullptr, "Fake", param.c_str());
    ASSERT_NE(cable, nullptr);
    param = "changed";
    EXPECT_STREQ(cable_param(cable), "speed=6");
    EXPECT_STREQ(cable_location(cable), "");
    EXPECT_STREQ(cable_name(cable), "Fake");
    EXPECT_EQ(cable_alive(cable), 1);
    cable_set_location(cable, nullptr);
    EXPECT_STREQ(cable_location(cable), "");
    cable_set_flags(cable, 0x55);
    EXPECT_EQ(cable_flags(cable), 0x55);
    EXPECT_EQ(cable_option(cable, 42, nullptr, 0, nullptr, 0, nullptr), JTAG_UNSUPPORTED);
    cable->on_destroy = [](Cable*) { g_calls.push_back("on_destroy"); };
    cable_free(cable);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"open:speed=6", "init", "option:42", "on_destroy",
                                                 "close"}));
    EXPECT_EQ(cable_option(nullptr, 9, nullptr, 0, nullptr, 0, nullptr), JTAG_NULL);
}

TEST_F(CableLayer, FailedOpenOrLostStateReleasesThroughClose) {
    g_open_succeeds = false;
    EXPECT_EQ(cable_new_with_driver(fake_driver(), "", "Fake", ""), nullptr);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"open:", "close"}));
    g_calls.clear();
    g_open_succeeds = true;
    g_keep_state = false;
    EXPECT_EQ(cable_new_with_driver(fake_driver(), "", "Fake", ""), nullptr);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"open:", "init", "close"}));
}

// The slot contract, checked on the test rig every core test relies on.
class SimCableContract : public ::testing::Test {
  protected:
    void SetUp() override {
        auto chain = std::make_unique<sim::TapChain>(30'000'000);
        chain->add(std::make_unique<sim::XilinxFpga>(*sim::find_xilinx_part("XC7A100T")));
        board_ = chain.get();
        cable_.reset(sim_cable_open(std::move(chain)));
        ASSERT_TRUE(cable_);
    }
    int shift(int count, const uint8_t* tdi, const uint8_t* mask, uint8_t* capture, int kind,
              int nocap = 0) {
        return cable_shift_inout(cable_.get(), count, tdi, mask, nullptr, nullptr, capture, kind,
                                 nocap, "", 1);
    }
    sim::TapChain* board_ = nullptr;
    CablePtr cable_;
};

TEST_F(SimCableContract, WalksAreExactAndAWalkToTheCurrentStateSendsNothing) {
    EXPECT_EQ(sim_cable_state(cable_.get()).tap_state, UNKNOWN);
    EXPECT_EQ(cable_tap_goto(cable_.get(), SHIFT_IR, 1), 1);
    EXPECT_EQ(board_->tck_count(), 10u);
    EXPECT_EQ(board_->state(), sim::TapState::ShiftIr);
    const int64_t transfers = sim_cable_state(cable_.get()).transfers;
    EXPECT_EQ(cable_tap_goto(cable_.get(), SHIFT_IR, 1), 1);
    EXPECT_EQ(board_->tck_count(), 10u);
    EXPECT_EQ(sim_cable_state(cable_.get()).transfers, transfers);
    EXPECT_EQ(cable_tap_goto(cable_.get(), 30, 1), 0) << "a walk beyond the bound fails";
}

TEST_F(SimCableContract, ShiftsEndInExit1AndMaskTdi) {
    ASSERT_EQ(cable_tap_goto(cable_.get(), TEST_LOGIC_RESET, 1), 1);
    ASSERT_EQ(cable_tap_goto(cable_.get(), SHIFT_DR, 1), 1);
    // IDCODE is selected after reset; shift ones with a zero mask: TDI must be driven 0.
    std::vector<uint8_t> ones(64, 1), zeros(64, 0), capture(64, 9);
    ASSERT_EQ(shift(64, ones.data(), zeros.data(), capture.data(), 2), 1);
    EXPECT_EQ(board_->state(), sim::TapState::Exit1Dr);
    EXPECT_EQ(sim_cable_state(cable_.get()).tap_state, EXIT1_DR);
    uint32_t id = 0;
    for (int i = 0; i < 32; ++i) id |= uint32_t(capture[i]) << i;
    EXPECT_EQ(id & 0x0FFFFFFF, 0x03631093u);
    for (int i = 32; i < 64; ++i) EXPECT_EQ(capture[i], 0) << "masked TDI came back as 0";

    ASSERT_EQ(cable_tap_goto(cable_.get(), SHIFT_IR, 1), 1);
    std::vector<uint8_t> bypass(6, 1), all(6, 1), ir_capture(6, 9);
    ASSERT_EQ(shift(6, bypass.data(), all.data(), ir_capture.data(), 1, 1), 1);
    EXPECT_EQ(sim_cable_state(cable_.get()).tap_state, EXIT1_IR);
    EXPECT_EQ(ir_capture, std::vector<uint8_t>(6, 0)) << "no capture: zeros";
    EXPECT_EQ(shift(0, nullptr, nullptr, nullptr, 2), 1) << "count 0 does nothing";
}

TEST_F(SimCableContract, AfterTheAliveCheckFailsEveryShiftAnswers21) {
    EXPECT_EQ(cable_option(cable_.get(), CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr), 1);
    sim_cable_state(cable_.get()).gone = true;
    EXPECT_EQ(cable_option(cable_.get(), CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr),
              JTAG_DISCONNECTED);
    EXPECT_EQ(cable_alive(cable_.get()), 0);
    uint8_t bit = 1, capture = 0;
    EXPECT_EQ(shift(1, &bit, &bit, &capture, 2), JTAG_DISCONNECTED);
}

// The word-at-a-time packing against bit-by-bit: any nonzero byte is a 1 (0x80 and 0xFE too),
// masks cut bits, runs start and end off byte boundaries, and nothing is written past the end.
TEST(BitPack, WordAtATimeMatchesBitByBit) {
    std::mt19937 random(7);
    const uint8_t values[] = {0, 1, 0x80, 0xFE, 0xFF, 0x7F};
    for (int run = 0; run < 300; ++run) {
        const size_t n = random() % 300, first = random() % 20;
        std::vector<uint8_t> tdi(first + n + 8), mask(first + n + 8);
        for (auto& v : tdi) v = values[random() % 6];
        for (auto& v : mask) v = random() % 3 ? values[random() % 6] : 0;
        const uint8_t* m = run % 2 ? mask.data() : nullptr;
        std::vector<uint8_t> packed((n + 7) / 8 + 1, 0xA5), expect((n + 7) / 8 + 1, 0);
        expect.back() = 0xA5;
        for (size_t i = 0; i < n; ++i)
            if (tdi_bit(tdi.data(), m, first + i)) expect[i / 8] |= uint8_t(1u << (i % 8));
        pack_bits(tdi.data(), m, first, n, packed.data());
        ASSERT_EQ(packed, expect) << "run " << run;

        std::vector<uint8_t> bits(n + 1, 0xA5);
        unpack_bits(packed.data(), n, bits.data());
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(bits[i], (expect[i / 8] >> (i % 8)) & 1);
        ASSERT_EQ(bits[n], 0xA5);

        // SPI order: each byte's most significant bit first, and back.
        const size_t count = n / 8;
        std::vector<uint8_t> spread(8 * count + 1, 0xA5), back(count);
        unpack_msb_first(packed.data(), count, spread.data());
        for (size_t i = 0; i < 8 * count; ++i)
            ASSERT_EQ(spread[i], (packed[i / 8] >> (7 - i % 8)) & 1);
        ASSERT_EQ(spread[8 * count], 0xA5);
        for (size_t i = 0; i < 8 * count; ++i) spread[i] |= 0xF0 & random();  // only bit 0 counts
        pack_msb_first(spread.data(), count, back.data());
        ASSERT_TRUE(std::equal(back.begin(), back.end(), packed.begin()));
    }
}

}  // namespace
}  // namespace vireo::test
