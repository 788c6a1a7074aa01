#include "jtag/opflag.h"

#include <algorithm>

#include "cables/usb_drivers.h"
#include "chain_fixture.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "support/use_virtual_board.h"

namespace vireo::test {
namespace {

using OpflagTest = ChainTest;

TEST_F(OpflagTest, IdcodeUsercodeAndBypassOnTheSelectedDevice) {
    auto b = board({"ARM_DAP", "XC7Z020"});
    b->find<sim::XilinxFpga>()->set_revision(2);
    Chain* chain = open(std::move(b));
    ASSERT_EQ(chain_detect(chain), 1);
    jtag_select(chain, 1, 1);
    EXPECT_EQ(jtag_idcode(chain), JTAG_OK);
    const Devopt* pl = device_devopt(chain_get_device(chain, 1));
    EXPECT_EQ(pl->idcode_read, 0x23727093u) << "the value read, revision included";
    EXPECT_EQ(pl->flags, OPF_GROUP_BASIC | OPF_ID_REGISTER);
    EXPECT_EQ(device_devopt(chain_get_device(chain, 0))->idcode_read, 0u) << "not selected";

    EXPECT_EQ(jtag_usercode(chain), JTAG_OK);
    EXPECT_EQ(pl->usercode, 0xFFFFFFFFu) << "an unconfigured FPGA";

    jtag_select_all(chain);
    EXPECT_EQ(jtag_idcode(chain), JTAG_OK);
    EXPECT_EQ(device_devopt(chain_get_device(chain, 0))->idcode_read, 0x4BA00477u);
    EXPECT_EQ(jtag_bypass(chain), JTAG_OK) << "IR capture of both parts compared";
    EXPECT_EQ(pl->flags, OPF_GROUP_BASIC | OPF_BYPASS);
    EXPECT_FALSE(chain_is_locked(chain));
}

TEST_F(OpflagTest, UnknownInstructionLoadsBypassAndAnswers9) {
    Chain* chain = detected({"ARM_DAP", "XC7Z020"});
    jtag_select(chain, 0, 1);
    EXPECT_EQ(jtag_usercode(chain), JTAG_UNKNOWN_INSTRUCTION) << "the DAP has no USERCODE";
    const Devopt* dap = device_devopt(chain_get_device(chain, 0));
    EXPECT_EQ(dap->flags, OPF_UNKNOWN);
    EXPECT_EQ(dap->status, JTAG_UNKNOWN_INSTRUCTION);
    EXPECT_FALSE(chain_is_locked(chain));
}

TEST_F(OpflagTest, SampleAndExtestMoveThePartsBoundaryRegister) {
    Chain* chain = detected({"XC7A100T"});
    sim::XilinxFpga* fpga = board_->find<sim::XilinxFpga>();
    const int length = device_part(chain_get_device(chain, 0))->bsr_len;
    ASSERT_EQ(length, fpga->part().bsr_len);
    std::vector<bool> pins(length);
    for (int i = 0; i < length; ++i) pins[i] = (i % 3) == 0;
    fpga->set_pin_inputs(pins);

    jtag_select_all(chain);
    Devopt* devopt = device_devopt(chain_get_device(chain, 0));
    const int flush = chain_settings(chain)->flush;
    ASSERT_EQ(jtag_sample(chain), JTAG_OK);
    EXPECT_EQ(chain_settings(chain)->flush, flush);
    ASSERT_EQ(static_cast<int>(devopt->bsr.size()), length);
    for (int i = 0; i < length; ++i) ASSERT_EQ(devopt->bsr[i], pins[i] ? 1 : 0) << "cell " << i;
    EXPECT_EQ(devopt->capture_twice, 0);
    EXPECT_EQ(devopt->update_pending, 0);

    // EXTEST drives what the record holds; the update re-shifts it.
    for (int i = 0; i < length; ++i) devopt->bsr[i] = i % 2;
    ASSERT_EQ(jtag_extest(chain), JTAG_OK);
    EXPECT_TRUE(fpga->extest_active());
    for (int i = 0; i < length; ++i) devopt->bsr[i] = (i % 5) == 0;
    const std::vector<uint8_t> driven = devopt->bsr;
    ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
    ASSERT_EQ(static_cast<int>(fpga->boundary_outputs().size()), length);
    for (int i = 0; i < length; ++i) {
        ASSERT_EQ(fpga->boundary_outputs()[i], driven[i] == 1) << "cell " << i;
    }
    EXPECT_EQ(devopt->flags, OPF_GROUP_EXTEST | OPF_BOUNDARY);
}

// A boundary data scan that never happened is not taken for the pins' state: the operation
// answers the failure (21 for a pulled cable), the last device's record holds it, and the
// record keeps the boundary data it had.
TEST_F(OpflagTest, AFailedBoundaryDataScanIsReportedAndKeepsTheRecord) {
    const std::pair<int (*)(Chain*), const char*> operations[] = {
        {jtag_extest, "go into extest mode"},
        {jtag_intest, "go into intest mode"},
        {jtag_sample, "go into extest mode"}};
    for (const auto& [operation, ir_label] : operations) {
        SCOPED_TRACE(ir_label);
        Chain* chain = detected({"XC7A100T"});
        jtag_select_all(chain);
        Devopt* devopt = device_devopt(chain_get_device(chain, 0));
        SimCableState& cable = sim_cable_state(cable_.get());
        ASSERT_EQ(operation(chain), JTAG_OK);  // leaves the TAP where the runs below start
        const int64_t start = cable.transfers;
        ASSERT_EQ(operation(chain), JTAG_OK);
        const int64_t transfers = cable.transfers - start;
        for (size_t i = 0; i < devopt->bsr.size(); ++i) devopt->bsr[i] = i % 3 == 0;
        const std::vector<uint8_t> kept = devopt->bsr;
        const int flush = chain_settings(chain)->flush;
        cable.labels.clear();
        cable.unplug_after = cable.transfers + transfers - 1;  // the data scan's last transfer
        EXPECT_EQ(operation(chain), JTAG_DISCONNECTED);
        EXPECT_EQ(std::ranges::count(cable.labels, ir_label), 1) << "the instruction went in";
        EXPECT_EQ(devopt->status, JTAG_DISCONNECTED);
        EXPECT_EQ(devopt->bsr, kept);
        EXPECT_EQ(chain_settings(chain)->flush, flush);
        EXPECT_FALSE(chain_is_locked(chain));
    }
}

TEST_F(OpflagTest, ResetGivesOneZeroThenFiveOnesAndWorksWithoutDevices) {
    Chain* empty = open(board({"XC7A100T"}));
    ASSERT_EQ(chain_runtest(empty, SHIFT_DR, 0, 0, nullptr, nullptr), JTAG_OK);
    const uint64_t before = board_->tck_count();
    EXPECT_EQ(jtag_reset(empty), JTAG_OK);
    EXPECT_EQ(board_->tck_count() - before, 6u) << "one TMS=0 clock, then five TMS=1";
    EXPECT_EQ(board_->state(), sim::TapState::TestLogicReset);

    Chain* chain = detected({"XC6SLX16"});
    EXPECT_EQ(jtag_reset(chain), JTAG_OK);
    EXPECT_EQ(board_->state(), sim::TapState::RunTestIdle);
    EXPECT_EQ(device_devopt(chain_get_device(chain, 0))->flags, OPF_ID_REGISTER);
}

TEST_F(OpflagTest, IdentityCheckAtEachLevelAgainstAWrongPart) {
    // The board holds an XC7A200T; the chain believes it is an XC7A100T.
    Chain* chain = open(board({"XC7A200T"}));
    ASSERT_EQ(chain_add_device(chain, "", "XC7A100T"), 1);
    const Devopt* devopt = device_devopt(chain_get_device(chain, 0));

    chain_settings(chain)->check_level = 0;
    EXPECT_EQ(jtag_check_devices(chain), 0);
    EXPECT_EQ(devopt->status, JTAG_IDCODE);
    EXPECT_EQ(devopt->idcode_read & 0x0FFFFFFF, 0x03636093u);
    EXPECT_EQ(devopt->usercode, 0xFFFFFFFFu);
    EXPECT_EQ(devopt->ir_capture_read & 0x3, 0x1);
    chain_settings(chain)->check_level = 1;
    EXPECT_EQ(jtag_check_devices(chain), 0);
    chain_settings(chain)->check_level = 2;
    EXPECT_EQ(jtag_check_devices(chain), 1);
    EXPECT_EQ(devopt->status, JTAG_OK);

    // The right part passes at the strictest level, also behind the Zynq DAP.
    Chain* right = detected({"ARM_DAP", "XC7Z020"});
    EXPECT_EQ(jtag_check_devices(right), 1);
    EXPECT_FALSE(chain_is_locked(right));
}

TEST_F(OpflagTest, IdentityCheckSeesAWrongIrCaptureUnlessLevelAllowsIt) {
    // TDO stuck high: the captured instruction register is all ones, never ...01.
    auto stuck = board({"XC7A100T"});
    stuck->set_tdo_fault(sim::TdoFault::StuckHigh);
    Chain* chain = open(std::move(stuck));
    ASSERT_EQ(chain_add_device(chain, "", "XC7A100T"), 1);
    chain_settings(chain)->check_level = 0;
    EXPECT_EQ(jtag_check_devices(chain), JTAG_IR_CAPTURE);
    chain_settings(chain)->check_level = 1;
    EXPECT_EQ(jtag_check_devices(chain), JTAG_OK);
}

TEST_F(OpflagTest, APulledCableMakesTheOperationAnswer21AndTheReportSayIt) {
    Chain* chain = detected({"XC7A100T"});
    jtag_select_all(chain);
    sim_cable_state(cable_.get()).unplug_after = 0;
    printed().clear();
    EXPECT_EQ(jtag_idcode(chain), JTAG_DISCONNECTED);
    EXPECT_EQ(cable_alive(cable_.get()), 0);
    EXPECT_EQ(chain_report_errors(chain), JTAG_DISCONNECTED);
    EXPECT_EQ(printed(),
              "ERROR: Error occured at device, positon 1 [XC7A100T]\n\n Reason:\n  "
              "JTAG operation was failed because JTAG cable was disconnected forcibly\n");
    EXPECT_EQ(jtag_bypass(chain), JTAG_DISCONNECTED) << "the cable stays gone";
    EXPECT_EQ(cable_option(cable_.get(), CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr),
              JTAG_DISCONNECTED);
}

TEST_F(OpflagTest, TheIdentityCheckAndResetReportALostCableAtEveryScan) {
    Chain* chain = detected({"ARM_DAP", "XC7A100T"});
    SimCableState& cable = sim_cable_state(cable_.get());
    const int64_t start = cable.transfers;
    ASSERT_EQ(jtag_check_devices(chain), JTAG_OK);
    const int64_t scans = cable.transfers - start;
    for (int64_t cut = 0; cut < scans; ++cut) {
        SCOPED_TRACE("unplugged after scan " + std::to_string(cut));
        chain = detected({"ARM_DAP", "XC7A100T"});
        sim_cable_state(cable_.get()).unplug_after = sim_cable_state(cable_.get()).transfers + cut;
        EXPECT_EQ(jtag_check_devices(chain), JTAG_DISCONNECTED);
        EXPECT_EQ(device_devopt(chain_get_device(chain, 1))->status, JTAG_DISCONNECTED);
        EXPECT_FALSE(chain_is_locked(chain));
        EXPECT_EQ(jtag_reset(chain), JTAG_DISCONNECTED);
    }
}

TEST_F(OpflagTest, ChainChecksAndSelection) {
    EXPECT_EQ(jtag_check_chain(nullptr), 0);
    Chain* chain = open(board({"XC7A100T"}));
    EXPECT_EQ(jtag_check_chain(chain), 0);
    ASSERT_EQ(chain_detect(chain), JTAG_OK);
    EXPECT_EQ(jtag_check_chain(chain), 1);
    EXPECT_EQ(printed(), "Critical error : Chain is NULL.\nAdd device before operation.\n");
    EXPECT_EQ(jtag_count(chain), 1);
    EXPECT_STREQ(jtag_device_description(chain, 0), "XC7A100T");
    EXPECT_STREQ(jtag_device_description(chain, 5), "");
    jtag_select_all(chain);
    EXPECT_EQ(jtag_is_selected(chain, 0), 1);
    jtag_select_none(chain);
    EXPECT_EQ(jtag_is_selected(chain, 0), 0);
    jtag_select(chain, 7, 1);  // no such device: nothing happens
    jtag_cable_lock(chain, 1);
    EXPECT_EQ(sim_cable_state(cable_.get()).lock_requests.back(), 1);
    EXPECT_EQ(jtag_idcode(nullptr), JTAG_NULL);
}

}  // namespace
}  // namespace vireo::test

namespace vireo::test {
namespace {

TEST(OpenChain, ClosingAChainOpenedByCableNameReleasesItsCable) {
    cables_register_usb_drivers();
    ASSERT_NE(use_virtual_board("kb2203"), nullptr);
    for (int round = 0; round < 2; ++round) {
        Chain* chain = jtag_open_chain("skprb", "");
        ASSERT_NE(chain, nullptr) << "round " << round << ": the board was left open";
        ASSERT_EQ(chain_detect(chain), 1);
        EXPECT_EQ(jtag_count(chain), 1);
        jtag_close_chain(chain);
    }
    EXPECT_EQ(jtag_open_chain("no such cable", ""), nullptr);
    use_virtual_board("");
}

}  // namespace
}  // namespace vireo::test
