// Board presets, VIREO_SIM parsing and the chains built from them.
#include <gtest/gtest.h>

#include <map>

#include "sim/arm_dap.h"
#include "sim/board_chain.h"
#include "sim/xilinx_fpga.h"
#include "sim_scan.h"

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
    EXPECT_EQ(test::dr_scan(*build_chain(parse_ok("kb2205")), 0, 32), find_xilinx_part("XC7S50")->idcode);
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
    EXPECT_EQ(test::ir_scan(*chain, 0x3FF, 10) & 0x3, 0x1u);        // PL capture first
    EXPECT_EQ(test::ir_scan(*chain, 0x3FF, 10) >> 6, 0b0001u);      // then the DAP's
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
    EXPECT_EQ(unknown.rfind("VIREO_SIM: unknown preset 'kb9999' (known: kb2201, kb2201-45, ", 0), 0u)
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
        {"kb2203,flash=a,flash=b", "twice"},
        {"kb2203,flash=W25 Q", "malformed flash"},
        {"kb2203,unplug=", "unplug"},
        {"kb2203,unplug=-1", "unplug"},
        {"kb2203,unplug=99999999999999999999", "unplug"},
    };
    for (auto [text, fragment] : cases) EXPECT_NE(parse_error(text).find(fragment), std::string::npos) << text;
}

}  // namespace
}  // namespace vireo::sim
