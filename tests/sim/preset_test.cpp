// Board presets, VIREO_SIM parsing and the chains built from them.
#include <gtest/gtest.h>

#include <map>

#include "fpga_helpers.h"
#include "sim/arm_dap.h"
#include "sim/board_chain.h"
#include "sim/rtl_bridge.h"
#include "sim/virtual_board.h"
#include "sim/xilinx_fpga.h"

namespace vireo::sim {
namespace {

EnvLookup fake_env(std::map<std::string, std::string> vars) {
    return [vars = std::move(vars)](const char* name) -> const char* {
        auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
    };
}

SimConfig parse_ok(std::string_view text) {
    auto r = parse_sim_config(text, fake_env({{"HOME", "/home/u"}}));
    EXPECT_TRUE(r.config) << r.error;
    return r.config.value_or(SimConfig{});
}

std::string parse_error(std::string_view text) {
    auto r = parse_sim_config(text, fake_env({{"HOME", "/home/u"}}));
    EXPECT_FALSE(r.config) << text;
    return r.error;
}

TEST(Preset, EveryPresetBuildsAChainOfKnownParts) {
    for (const BoardPreset& p : board_presets()) {
        auto chain = build_chain(parse_ok(p.name));
        ASSERT_TRUE(chain) << p.name;
        EXPECT_GT(chain->size(), 0u) << p.name;
        EXPECT_GT(chain->tck_hz(), 0u) << p.name;
    }
    // A package suffix in the chain list still names the die.
    EXPECT_EQ(test::dr_scan(*build_chain(parse_ok("kb2205")), 0, 32),
              find_xilinx_part("XC7S50")->idcode);
}

// On the Zynq the DAP sits at TDI, so a DR scan after reset shows the PL IDCODE first.
TEST(Preset, ZynqChainPutsDapBeforePl) {
    auto chain = build_chain(parse_ok("zynq"));
    ASSERT_EQ(chain->size(), 2u);
    EXPECT_EQ(chain->total_ir_length(), 10);
    chain->go_to(TapState::TestLogicReset);
    const uint64_t ids = test::dr_scan(*chain, 0, 64);
    EXPECT_EQ(ids & 0xFFFFFFFF, 0x03727093u);
    EXPECT_EQ(ids >> 32, ArmDap::kIdcode);
    EXPECT_EQ(test::ir_scan(*chain, 0x3FF, 10) & 0x3, 0x1u);    // PL capture first
    EXPECT_EQ(test::ir_scan(*chain, 0x3FF, 10) >> 6, 0b0001u);  // then the DAP's
}

TEST(SimConfig, OptionsOverridePresetDefaults) {
    SimConfig c = parse_ok("kb2201");
    EXPECT_EQ(c.flash, "AT45DB161D");
    EXPECT_EQ(c.firmware, "1.2");
    EXPECT_EQ(c.state_dir, "/home/u/.cache/vireojtag/sim/kb2201/");
    EXPECT_FALSE(c.unplug_after);

    c = parse_ok("kb2202,flash=W25Q64BV,state=/tmp/s,unplug=12,tdo=stuck1,fw=1.1");
    EXPECT_EQ(c.preset->name, "kb2202");
    EXPECT_EQ(c.flash, "W25Q64BV");
    EXPECT_EQ(c.state_dir, "/tmp/s");
    EXPECT_EQ(c.unplug_after, 12u);
    EXPECT_EQ(c.tdo, TdoFault::StuckHigh);
    EXPECT_EQ(c.firmware, "1.1");
    EXPECT_EQ(build_chain(c)->tdo_fault(), TdoFault::StuckHigh);
    EXPECT_EQ(parse_ok("zynq,tdo=stuck0").tdo, TdoFault::StuckLow);
    EXPECT_EQ(c.clear, ClearTime::Typical);
    EXPECT_EQ(parse_ok("kb2203,clear=typ").clear, ClearTime::Typical);
    EXPECT_EQ(parse_ok("kb2203,clear=max").clear, ClearTime::DataSheetMax);
    c = parse_ok("kb2203,clear=0250us");
    EXPECT_EQ(c.clear, ClearTime::Fixed);
    EXPECT_EQ(c.clear_ns, 250'000u);
}

TEST(SimConfig, StateFolderFollowsXdgCache) {
    EXPECT_EQ(default_state_dir("zynq", fake_env({{"XDG_CACHE_HOME", "/c"}, {"HOME", "/h"}})),
              "/c/vireojtag/sim/zynq/");
    EXPECT_EQ(default_state_dir("zynq", fake_env({{"XDG_CACHE_HOME", "rel"}, {"HOME", "/h"}})),
              "/h/.cache/vireojtag/sim/zynq/");
    EXPECT_EQ(default_state_dir("zynq", fake_env({})), "");
}

TEST(SimConfig, BadTextGivesOneClearError) {
    const std::string unknown = parse_error("kb9999");
    EXPECT_EQ(unknown.rfind("VIREO_SIM: unknown preset 'kb9999' (known: kb2201, kb2201-45, ", 0),
              0u)
        << unknown;
    EXPECT_NE(unknown.find("fx3-boot)"), std::string::npos);
    const std::pair<const char*, const char*> cases[] = {
        {"", "no preset"},
        {"kb2203,speed=9", "unknown option 'speed'"},
        {"kb2203,flash", "not option=value"},
        {"kb2203,", "not option=value"},
        {"kb2203,tdo=stuck2", "stuck0 or stuck1"},
        {"kb2203,fw=1.2", "only to USB 2.0 boards"},
        {"kb2201,fw=1.x", "version"},
        {"kb2203,state=", "empty state"},
        {"kb2203,flash=N25Q128,flash=W25Q64BV", "twice"},
        {"kb2203,flash=W25 Q", "malformed flash"},
        {"kb2203,flash=W25Q999", "unknown flash part 'W25Q999'"},
        {"kb2203,unplug=", "unplug"},
        {"kb2203,unplug=-1", "unplug"},
        {"kb2203,unplug=99999999999999999999", "unplug"},
        {"kb2203,clear=", "clear must be typ, max or microseconds like 500us, got ''"},
        {"kb2203,clear=MAX", "got 'MAX'"},
        {"kb2203,clear=2ms", "got '2ms'"},
        {"kb2203,clear=us", "got 'us'"},
        {"kb2203,clear=-5us", "got '-5us'"},
        {"kb2203,clear=5 us", "got '5 us'"},
        {"kb2203,clear=18446744073709552us", "got '18446744073709552us'"},  // ns overflow 64 bits
        {"kb2203,clear=max,clear=typ", "option 'clear' given twice"},
        {"kb2203,bridge=vhdl", "bridge must be model or rtl, got 'vhdl'"},
    };
    for (auto [text, fragment] : cases)
        EXPECT_NE(parse_error(text).find(fragment), std::string::npos) << text;
}

// bridge=rtl where the program carries the RTL bridge; elsewhere refused, saying why.
TEST(SimConfig, BridgeOptionChoosesTheModelOrTheRtl) {
    EXPECT_EQ(parse_ok("kb2203").bridge, BridgeKind::Model);
    EXPECT_EQ(parse_ok("kb2203,bridge=model").bridge, BridgeKind::Model);
    if (rtl_bridge_built())
        EXPECT_EQ(parse_ok("kb2203,bridge=rtl").bridge, BridgeKind::Rtl);
    else
        EXPECT_NE(parse_error("kb2203,bridge=rtl").find("which this program lacks"),
                  std::string::npos);
}

// A board from the text, or none with the parser's reason; every board is one of its own.
TEST(SimConfig, BoardsAreBuiltFromTheTextOrNotAtAll) {
    std::string error = "stale";
    EXPECT_EQ(make_virtual_board("kb2203,bogus=1", &error), nullptr);
    EXPECT_EQ(error, parse_error("kb2203,bogus=1"));
    EXPECT_EQ(make_virtual_board("", &error), nullptr);
    EXPECT_EQ(error.rfind("VIREO_SIM: no preset given", 0), 0u) << error;

    const std::shared_ptr<VirtualBoard> a = make_virtual_board("fx3-boot,unplug=1", &error);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(error, "");
    const std::shared_ptr<VirtualBoard> b = make_virtual_board("fx3-boot");
    ASSERT_NE(b, nullptr);
    a->become_board();
    EXPECT_EQ(a->preset().name, "kb2203");
    EXPECT_EQ(b->preset().name, "fx3-boot");
    EXPECT_TRUE(a->transfer(1, 0));
    EXPECT_FALSE(a->transfer(1, 0));
    EXPECT_TRUE(b->transfer(1, 0));
}

// After JPROGRAM INIT stays low in the IR capture for the clear= time of modeled time, then
// rises. Polled every 1/50 of that time up to two IR scans before the end.
void expect_init_low_for(TapChain& chain, uint64_t clear_ns) {
    test::FpgaDriver fpga(chain, 0);
    fpga.load(XilinxInstr::Jprogram);
    const uint64_t t0 = chain.now_ns();
    ASSERT_FALSE(fpga.status() & test::kInit);
    const uint64_t scan_ns = chain.now_ns() - t0;
    const uint64_t last_low = t0 + clear_ns - 2 * scan_ns;
    for (uint64_t t = chain.now_ns(); t < last_low; t = chain.now_ns()) {
        chain.wait_ns(std::min(clear_ns / 50, last_low - t));
        ASSERT_FALSE(fpga.status() & test::kInit) << "at " << chain.now_ns() - t0 << " ns";
    }
    chain.wait_ns(t0 + clear_ns - chain.now_ns());
    EXPECT_TRUE(fpga.status() & test::kInit);
}

TEST(SimConfig, ClearOptionSetsHowLongInitStaysLow) {
    const std::pair<const char*, uint64_t> cases[] = {
        {"kb2203,clear=max", 5'000'000},  // 7-series data-sheet bound
        {"kb2201,clear=max", 2'000'000},  // Spartan-6
        {"kb2205,clear=300us", 300'000},
        {"kb2203", find_xilinx_part("XC7A100T")->clear_ns},
    };
    for (auto [text, clear_ns] : cases) {
        SCOPED_TRACE(text);
        auto chain = build_chain(parse_ok(text));
        ASSERT_TRUE(chain);
        expect_init_low_for(*chain, clear_ns);
    }
}

}  // namespace
}  // namespace vireo::sim

namespace vireo::sim {
namespace {

// The modeled USB link: queued writes overlap the device's work, a read waits a round trip, and
// the window bounds how far the host runs ahead.
TEST(UsbLink, QueuedWritesOverlapTheDeviceAndAReadWaitsARoundTrip) {
    const auto board = make_virtual_board("kb2203");
    TapChain& chain = board->chain();
    const uint64_t work_ns = 100 * 10'000 * 1'000'000'000ull / chain.tck_hz();
    const auto busy_writes = [&](int n, size_t window) {
        const uint64_t start = chain.now_ns();
        for (int i = 0; i < n; ++i) {
            EXPECT_TRUE(board->queue_transfer(1024, window));
            chain.run_clocks(10'000);  // what the firmware makes of it: 333 us at 30 MHz
            board->queued_transfer_done();
        }
        return chain.now_ns() - start;
    };
    // The bus brings the next transfer while the device works on this one: only the first
    // arrival shows.
    const uint64_t pipelined = busy_writes(100, 8);
    EXPECT_EQ(pipelined, work_ns + 2'560);
    // A read waits for the device, then a whole round trip (20 us at SuperSpeed).
    uint64_t before = chain.now_ns();
    EXPECT_TRUE(board->transfer(0, 4));
    EXPECT_EQ(chain.now_ns() - before, 20'000u);
    // Without work on the device, the bus is the limit: 2.56 us a 1024-byte packet.
    before = chain.now_ns();
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(board->queue_transfer(1000, 8));
        board->queued_transfer_done();
    }
    EXPECT_EQ(chain.now_ns() - before, 10 * 2'560u);
    EXPECT_EQ(board->counters().transfers, 111u);
    board->unplug();
    EXPECT_FALSE(board->queue_transfer(1, 8));
}

}  // namespace
}  // namespace vireo::sim
