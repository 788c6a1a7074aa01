#include "jtag/chain.h"

#include "chain_fixture.h"
#include "jtag/opflag.h"
#include "jtag/status.h"
#include "jtag/tap.h"

namespace vireo::test {
namespace {

std::vector<std::string> names(Chain* chain) {
    std::vector<std::string> out;
    for (int i = 0; i < chain_count(chain); ++i) {
        out.push_back(device_description(chain_get_device(chain, i)));
    }
    return out;
}

TEST_F(ChainTest, DetectsSingleFpgasOfBothFamilies) {
    Chain* s6 = detected({"XC6SLX16"});
    EXPECT_EQ(names(s6), std::vector<std::string>{"XC6SLX16"});
    const PartRecord* part = device_part(chain_get_device(s6, 0));
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->ir_length, 6);
    EXPECT_EQ(part->idcode & 0x0FFFFFFF, 0x04002093u);
    EXPECT_GT(part->instruction_count(), 5);

    Chain* s7 = detected({"XC7A100T"});
    EXPECT_EQ(names(s7), std::vector<std::string>{"XC7A100T"});
    EXPECT_EQ(bsreg_length(device_get_register(chain_get_device(s7, 0), DEVICE_IR)), 6);
    EXPECT_EQ(printed(), "");
}

TEST_F(ChainTest, DetectsTheZynqChainInOrderAndANewerSiliconRevision) {
    auto zynq = board({"ARM_DAP", "XC7Z020"});
    zynq->find<sim::XilinxFpga>()->set_revision(3);
    Chain* chain = open(std::move(zynq));
    ASSERT_EQ(chain_detect(chain), 1);
    ASSERT_EQ(chain_count(chain), 2);
    EXPECT_EQ(device_part(chain_get_device(chain, 0))->ir_length, 4);
    EXPECT_NE(std::string(device_description(chain_get_device(chain, 0))),
              "device not found in device database file");
    EXPECT_EQ(std::string(device_description(chain_get_device(chain, 1))), "XC7Z020");
}

TEST_F(ChainTest, BypassOnlyDeviceIsCountedButNotListed) {
    Chain* chain = detected({"BYPASS_ONLY", "XC7A100T"});
    EXPECT_EQ(names(chain), std::vector<std::string>{"XC7A100T"});
    Chain* reversed = detected({"XC7A100T", "BYPASS_ONLY"});
    EXPECT_EQ(names(reversed), std::vector<std::string>{"XC7A100T"});
}

TEST_F(ChainTest, StuckTdoFindsNoDevices) {
    for (auto fault : {sim::TdoFault::StuckLow, sim::TdoFault::StuckHigh}) {
        auto b = board({"XC7A100T"});
        b->set_tdo_fault(fault);
        Chain* chain = open(std::move(b));
        chain_add_device(chain, "", "XC7A100T");
        ASSERT_EQ(chain_detect(chain), 1);
        EXPECT_EQ(chain_count(chain), 0) << "the old list is cleared";
    }
}

TEST_F(ChainTest, PartsOutsideTheDatabaseGiveUsableGenericDevices) {
    Chain* chain = open(board({"XC7A100T"}));
    chain_add_device(chain, "", "");
    Device* device = chain_get_device(chain, 0);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device_part(device)->name, "generic");
    EXPECT_STREQ(device_description(device), "device not found in device database file");
    EXPECT_EQ(printed(), "") << "an empty part name is silently generic";

    chain_add_device(chain, "", "XC9NOTAPART");
    EXPECT_EQ(printed(), "warning:device 'XC9NOTAPART' not found in device database\n");
    EXPECT_STREQ(device_description(chain_get_device(chain, 1)),
                 "device not found in device database file");
    EXPECT_EQ(bsreg_length(device_get_register(chain_get_device(chain, 1), DEVICE_IR)), 1);
}

TEST_F(ChainTest, ShiftGathersFromTheTdoEndAndComparesUnderMask) {
    Chain* chain = detected({"ARM_DAP", "XC7Z020"});
    Device* dap = chain_get_device(chain, 0);
    Device* pl = chain_get_device(chain, 1);
    ASSERT_EQ(device_set_instruction(dap, "IDCODE"), JTAG_OK);
    ASSERT_EQ(device_set_instruction(pl, "IDCODE"), JTAG_OK);
    EXPECT_EQ(chain_shift(chain, DEVICE_IR, CHAIN_COMPARE), 1) << "IR capture matches both parts";

    BsReg* dap_dr = device_get_register(dap, DEVICE_DR);
    BsReg* pl_dr = device_get_register(pl, DEVICE_DR);
    bsreg_set(dap_dr, BSREG_TDO, 0x4BA00477, 0, 32);
    bsreg_set(pl_dr, BSREG_TDO, 0x03727093, 0, 32);
    bsreg_set(pl_dr, BSREG_TDOMASK, 0x0FFFFFFF, 0, 32);
    EXPECT_EQ(chain_shift(chain, DEVICE_DR, CHAIN_COMPARE), 1);
    uint32_t value = 0;
    bsreg_get(dap_dr, BSREG_TDOCAPTURE, 0, 32, &value);
    EXPECT_EQ(value, 0x4BA00477u);

    bsreg_set(pl_dr, BSREG_TDO, 0x03636093, 0, 32);
    EXPECT_EQ(chain_shift(chain, DEVICE_DR, CHAIN_COMPARE), 0) << "wrong IDCODE expected";
    bsreg_fill(pl_dr, BSREG_TDOMASK, 0, 0, 0);
    bsreg_fill(dap_dr, BSREG_TDOMASK, 0, 0, 0);
    EXPECT_EQ(chain_shift(chain, DEVICE_DR, CHAIN_COMPARE), 1) << "an empty mask compares equal";

    // Write-only shifts leave the capture planes alone.
    bsreg_fill(pl_dr, BSREG_TDOCAPTURE, 1, 0, 0);
    EXPECT_EQ(chain_shift(chain, DEVICE_DR, CHAIN_WRITE_ONLY), 1);
    bsreg_get(pl_dr, BSREG_TDOCAPTURE, 0, 32, &value);
    EXPECT_EQ(value, 0xFFFFFFFFu);
}

TEST_F(ChainTest, BuffersGrowForLongShiftsAndShrinkAfterwards) {
    Chain* chain = detected({"XC7A100T"});
    Device* fpga = chain_get_device(chain, 0);
    bsreg_resize(device_get_register(fpga, DEVICE_DR), 150000);
    EXPECT_EQ(chain_shift(chain, DEVICE_DR, CHAIN_WRITE_BACK), 1);
    EXPECT_EQ(chain->capacity, 150001);
    bsreg_resize(device_get_register(fpga, DEVICE_DR), 32);
    EXPECT_EQ(chain_shift(chain, DEVICE_DR, CHAIN_WRITE_BACK), 1);
    EXPECT_EQ(chain->capacity, 33);
}

TEST_F(ChainTest, StructureEditsRespectIndexes) {
    Chain* chain = open(board({"XC7A100T"}));
    EXPECT_EQ(chain_add_device(chain, "a", "XC7A100T"), 1);
    EXPECT_EQ(chain_insert_device(chain, "b", "XC6SLX16", 1), 1) << "index count appends";
    EXPECT_EQ(chain_insert_device(chain, "c", "XC6SLX16", 3), 0);
    EXPECT_EQ(chain_insert_device(chain, "z", "XC7A200T", 0), 1);
    EXPECT_EQ(names(chain), (std::vector<std::string>{"XC7A200T", "XC7A100T", "XC6SLX16"}));
    EXPECT_EQ(chain_remove_device(chain, 3), 0);
    EXPECT_EQ(chain_remove_device(chain, 1), 1);
    EXPECT_EQ(names(chain), (std::vector<std::string>{"XC7A200T", "XC6SLX16"}));
    EXPECT_EQ(chain_get_device(chain, 2), nullptr);
    EXPECT_EQ(chain_get_device(chain, -1), nullptr);
    EXPECT_STREQ(device_name(chain_get_device(chain, 0)), "z");
}

TEST_F(ChainTest, EveryLockRefusalKeepsTheChainUsable) {
    Chain* chain = detected({"XC7A100T"});
    Device* device = chain_get_device(chain, 0);
    chain_lock(chain);
    printed().clear();
    EXPECT_EQ(chain_clear(chain), 0);
    EXPECT_EQ(chain_add_device(chain, "", "XC7A100T"), 0);
    EXPECT_EQ(chain_insert_device(chain, "", "XC7A100T", 0), 0);
    EXPECT_EQ(chain_remove_device(chain, 0), 0);
    EXPECT_EQ(chain_set_cable(chain, nullptr), 0);
    EXPECT_EQ(chain_detect(chain), 0);
    chain_delete(chain);
    device_delete(device);
    EXPECT_EQ(device_set_part(device, "XC7A200T"), 0);
    EXPECT_EQ(device_set_idcode(device, 1), 0);
    EXPECT_EQ(device_set_package(device, "csg324"), 0);
    EXPECT_EQ(device_set_option(device, nullptr), 0);
    EXPECT_EQ(jtag_idcode(chain), JTAG_LOCKED);
    EXPECT_EQ(jtag_reset(chain), JTAG_LOCKED);
    EXPECT_EQ(printed(),
              "Fatal error: Chain is locked . Do not clear!\n"
              "Fatal error: Chain is locked . Do not add device!\n"
              "Fatal error: Chain is locked . Do not add device!\n"
              "Fatal error: Chain is locked . Do not remove device!\n"
              "Fatal error: Chain is locked . Do not change cable!\n"
              "Fatal error: Chain is locked . Do not detect device!\n"
              "Fatal error: Chain is locked . Do not delete!\n"
              "Fatal error: Chain is locked . Do not delete device!\n"
              "Fatal error: Chain is locked . Do not change part!\n"
              "Fatal error: Chain is locked . Do not change idcode!\n"
              "Fatal error: Chain is locked . Do not change pkgtype!\n"
              "Fatal error: Chain is locked . Do not change device option!\n");
    chain_unlock(chain);
    EXPECT_EQ(sim_cable_state(cable_.get()).lock_requests.back(), 0);
    ASSERT_EQ(chain_count(chain), 1);
    EXPECT_STREQ(device_description(device), "XC7A100T");
    jtag_select_all(chain);
    EXPECT_EQ(jtag_idcode(chain), JTAG_OK);
    EXPECT_EQ(device_devopt(device)->idcode_read & 0x0FFFFFFF, 0x03631093u);
}

TEST_F(ChainTest, RuntestWaitsWithoutMovingOrWalksThenClocks) {
    Chain* chain = detected({"XC7A100T"});
    const uint64_t tck = board_->tck_count();
    const uint64_t ns = board_->now_ns();
    EXPECT_EQ(chain_runtest(chain, RUNTEST_IDLE, 10000, 0, nullptr, nullptr), 1);
    EXPECT_EQ(board_->tck_count(), tck) << "a wait gives no clock";
    EXPECT_GE(board_->now_ns() - ns, 10'000'000u);
    ASSERT_EQ(chain_runtest(chain, TEST_LOGIC_RESET, 0, 0, nullptr, nullptr), JTAG_OK);
    EXPECT_EQ(board_->state(), sim::TapState::TestLogicReset);
    const uint64_t before = board_->tck_count();
    EXPECT_EQ(chain_runtest(chain, RUNTEST_IDLE, 0, 12, nullptr, nullptr), 1);
    EXPECT_EQ(board_->tck_count() - before, 13u) << "one step to Run-Test/Idle, then 12 clocks";
    EXPECT_EQ(board_->state(), sim::TapState::RunTestIdle);
}

TEST_F(ChainTest, LocksNestAndOnlyTheOutermostReachesTheCable) {
    Chain* chain = detected({"XC7A100T"});
    SimCableState& cable = sim_cable_state(cable_.get());
    cable.lock_requests.clear();
    {
        ChainLockGuard outer(chain);
        {
            ChainLockGuard inner(chain);
            EXPECT_TRUE(chain_is_locked(chain));
        }
        EXPECT_TRUE(chain_is_locked(chain)) << "an inner unlock leaves the operation locked";
        EXPECT_EQ(chain_add_device(chain, "", "XC6SLX16"), 0);
    }
    EXPECT_FALSE(chain_is_locked(chain));
    chain_unlock(chain);
    EXPECT_FALSE(chain_is_locked(chain)) << "an extra unlock does not underflow";
    chain_lock(chain);
    EXPECT_TRUE(chain_is_locked(chain));
    chain_unlock(chain);
    EXPECT_EQ(cable.lock_requests, (std::vector<int>{1, 0, 1, 0}));
}

}  // namespace
}  // namespace vireo::test
