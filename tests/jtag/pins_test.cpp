// The pin model on a device of the virtual board: a description installed from the board's own
// BSDL text, states read through SAMPLE, pins driven through EXTEST, conflicts seen.
#include "devdb/pins.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "chain_fixture.h"
#include "jtag/device.h"
#include "jtag/opflag.h"
#include "jtag/status.h"
#include "sim/boundary_layout.h"

namespace vireo::test {
namespace {

class PinsTest : public ChainTest {
  protected:
    void TearDown() override {
        if (!path_.empty()) std::remove(path_.c_str());
    }

    // A chain of one FPGA carrying the description written from its own pad table.
    Device* installed(const char* part) {
        Chain* chain = detected({part});
        fpga_ = board_->find<sim::XilinxFpga>();
        path_ = "pins_test_" + std::to_string(getpid()) + ".bsd";
        std::ofstream(path_) << sim::boundary_bsdl(fpga_->part());
        Device* device = chain_get_device(chain, 0);
        EXPECT_EQ(device_load_description(device, path_.c_str()), 1) << printed();
        jtag_select_all(chain);
        return device;
    }

    const char* pin_of(Device* device, const char* port) {
        return pin_by_port(device_pins(device), port);
    }
    int state(Device* device, const char* port) {
        return pin_get_state(device_pins(device), pin_of(device, port));
    }
    // Boundary data is captured before the scan's update: capturing twice shows what the pins
    // do with the data just shifted.
    static void capture_twice(Device* device) { device_devopt(device)->capture_twice = 1; }
    void drive(Device* device, const char* port, int level) {
        Devopt* d = device_devopt(device);
        pin_drive(device_pins(device), pin_of(device, port), d->bsr.data(), d->bsr.size(),
                  level < 0 ? 0 : level, level < 0 ? 0 : 1);
    }

    sim::XilinxFpga* fpga_ = nullptr;
    std::string path_;
};

TEST_F(PinsTest, InstallingTheDescriptionGivesTheDeviceItsPinsAndRegisters) {
    Device* device = installed("XC7A100T");
    const PinTable* pins = device_pins(device);
    ASSERT_TRUE(pins);
    EXPECT_STREQ(device_description(device), "XC7A100T_CSG324");
    EXPECT_STREQ(device_package(device), "CSG324");
    EXPECT_EQ(device->pin_count, 324);
    EXPECT_EQ(pintable_count(pins), 325) << "one slot per package pin, slot 0 unused";
    EXPECT_EQ(device_devopt(device)->bsr_len, fpga_->part().bsr_len);
    EXPECT_EQ(bsreg_length(device_get_register(device, DEVICE_IR)), 6);

    int type = -1, access = -1;
    pin_type(pins, pin_of(device, "LED0"), &type, &access);
    EXPECT_EQ(type, PIN_BIDIR);
    EXPECT_EQ(access, 0);
    pin_type(pins, pin_of(device, "GND(1)"), &type, &access);
    EXPECT_EQ(type, PIN_GND);
    EXPECT_EQ(access, 1);
    pin_type(pins, "A1", &type, nullptr);
    EXPECT_EQ(type, PIN_JTAG) << pin_port_name(pins, "A1");

    // A device taken back to a database part loses its pin model.
    ASSERT_EQ(device_set_part(device, "XC7A100T"), 1);
    EXPECT_EQ(device_pins(device), nullptr);
}

TEST_F(PinsTest, RefusedDescriptionsLeaveTheDeviceAsItWas) {
    Chain* chain = detected({"XC6SLX16"});
    Device* device = chain_get_device(chain, 0);
    EXPECT_EQ(device_load_description(device, "no/such/file.bsd"), 0);
    EXPECT_EQ(device_load_description(device, "/bb/no/such/index.bix"), 0);
    path_ = "pins_test_ir_" + std::to_string(getpid()) + ".bsd";
    std::ofstream(path_) << "entity E is generic (PHYSICAL_PIN_MAP : string := \"P\"); end E;\n"
                            "attribute INSTRUCTION_LENGTH of E : entity is 40;\n"
                            "attribute INSTRUCTION_OPCODE of E : entity is \"BYPASS (1)\";\n";
    EXPECT_EQ(device_load_description(device, path_.c_str()), 0) << "40-bit IR";
    EXPECT_EQ(device_pins(device), nullptr);
    EXPECT_STREQ(device_description(device), "XC6SLX16");
    EXPECT_EQ(bsreg_length(device_get_register(device, DEVICE_IR)), 6);

    chain_lock(chain);
    EXPECT_EQ(device_load_description(device, path_.c_str()), 0);
    EXPECT_NE(printed().find("Chain is locked"), std::string::npos);
    chain_unlock(chain);
}

TEST_F(PinsTest, SampleReadsTheWiredPadsAndTheClockMoves) {
    Device* device = installed("XC6SLX16");
    Chain* chain = chain_get_device(chain_.get(), 0)->chain;
    ASSERT_EQ(jtag_sample(chain), JTAG_OK);
    EXPECT_EQ(state(device, "BTN0"), PIN_IN1) << "pull-up";
    EXPECT_EQ(state(device, "LED0"), PIN_IN0) << "no design drives it";
    EXPECT_EQ(state(device, "SW0"), PIN_IN0);
    EXPECT_EQ(pin_get_state(device_pins(device), "A1"), PIN_UNPROBED) << "TCK has no cell";

    // The clock is seen at both levels over a few half periods of modeled time.
    bool seen[2] = {false, false};
    for (int i = 0; i < 6; ++i) {
        board_->wait_ns(sim::kClockHalfPeriodNs);
        ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
        const int s = state(device, "CLK0");
        ASSERT_TRUE(s == PIN_IN0 || s == PIN_IN1) << s;
        seen[s == PIN_IN1] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1]);
    EXPECT_FALSE(fpga_->extest_active());
}

TEST_F(PinsTest, ExtestDrivesReadsBackAndSeesAConflict) {
    Device* device = installed("XC7A100T");
    Chain* chain = device->chain;
    ASSERT_EQ(jtag_sample(chain), JTAG_OK);
    capture_twice(device);
    ASSERT_EQ(jtag_extest(chain), JTAG_OK);
    EXPECT_TRUE(fpga_->extest_active());
    EXPECT_EQ(state(device, "LED0"), PIN_IN0) << "inputs stay released on entry";

    drive(device, "LED0", 1);
    drive(device, "SW0", 1);  // tied to ground on the board
    drive(device, "BTN0", -1);
    EXPECT_EQ(state(device, "LED0"), PIN_DRIVE1);
    capture_twice(device);
    ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
    EXPECT_EQ(state(device, "LED0"), PIN_DRIVE1) << "read back 1 through its input cell";
    EXPECT_EQ(state(device, "SW0"), PIN_CONFLICT0);
    EXPECT_EQ(state(device, "BTN0"), PIN_IN1) << "released: the pull-up reads";
    EXPECT_EQ(pintable_readback_mismatches(device_pins(device), device->dr.get()), 0);
    const sim::BoundaryPad& led = fpga_->boundary().pads[2];
    ASSERT_EQ(led.port, "LED0");
    EXPECT_TRUE(fpga_->boundary_outputs()[static_cast<size_t>(led.output_cell)]);
    EXPECT_FALSE(fpga_->boundary_outputs()[static_cast<size_t>(led.control_cell)]) << "enabled";

    // The request holds across updates; a new operation settles it into an observation.
    ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
    EXPECT_EQ(state(device, "SW0"), PIN_CONFLICT0);
    drive(device, "LED0", 0);
    capture_twice(device);
    ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
    EXPECT_EQ(state(device, "LED0"), PIN_DRIVE0);
    capture_twice(device);
    ASSERT_EQ(jtag_extest(chain), JTAG_OK);
    EXPECT_EQ(state(device, "LED0"), PIN_OUT0) << "settled, and still driven 0 by apply";
    EXPECT_FALSE(fpga_->boundary_outputs()[static_cast<size_t>(led.output_cell)]);
    EXPECT_FALSE(fpga_->boundary_outputs()[static_cast<size_t>(led.control_cell)]);

    // SAMPLE gives the pads back to the (absent) design.
    ASSERT_EQ(jtag_sample(chain), JTAG_OK);
    EXPECT_EQ(state(device, "LED0"), PIN_IN0);
    EXPECT_EQ(state(device, "SW0"), PIN_IN0);
}

// EXTEST that loads another register (here BYPASS's opcode in the description) reads back the
// data shifted by that register: the output and control cells do not show what was driven.
TEST_F(PinsTest, ReadBackThroughAnotherRegisterIsNotTheDrivenData) {
    Device* device = installed("XC7A100T");
    Chain* chain = device->chain;
    ASSERT_EQ(jtag_sample(chain), JTAG_OK);
    for (PartInstruction& ins : device_part(device)->instructions) {
        if (ins.name == "EXTEST") ins.value = 0x3F;
    }
    capture_twice(device);
    ASSERT_EQ(jtag_extest(chain), JTAG_OK);
    drive(device, "LED0", 1);
    capture_twice(device);
    ASSERT_EQ(jtag_update_boundary(chain), JTAG_OK);
    EXPECT_FALSE(fpga_->extest_active());
    EXPECT_GT(pintable_readback_mismatches(device_pins(device), device->dr.get()), 0);
    EXPECT_EQ(pintable_readback_mismatches(nullptr, device->dr.get()), -1);
}

// The boundary register is counted on the wire through the BYPASS bits of devices on either side,
// whatever the installed description says; a TDO that never moves is reported, not counted.
TEST_F(PinsTest, BoundaryLengthIsMeasuredOnTheChain) {
    Chain* chain = detected({"ARM_DAP", "XC7Z020", "XC6SLX16"});
    ASSERT_EQ(chain_count(chain), 3) << printed();
    BoundaryMeasure m;
    board_->set_tdo_fault(sim::TdoFault::StuckLow);
    EXPECT_EQ(jtag_measure_boundary(chain, 1, &m), JTAG_FAIL);
    EXPECT_EQ(m.length, 0);
    EXPECT_EQ(m.tdo_level, 0);
    EXPECT_NE(m.reason.find("TDO stayed at 0"), std::string::npos) << m.reason;
    board_->set_tdo_fault(sim::TdoFault::StuckHigh);
    EXPECT_EQ(jtag_measure_boundary(chain, 2, &m), JTAG_FAIL);
    EXPECT_EQ(m.tdo_level, 1) << m.reason;
    board_->set_tdo_fault(sim::TdoFault::None);
    EXPECT_EQ(jtag_measure_boundary(chain, 0, &m), JTAG_UNKNOWN_INSTRUCTION) << m.reason;

    EXPECT_EQ(jtag_measure_boundary(chain, 1, &m), JTAG_OK) << m.reason;
    EXPECT_EQ(m.length, sim::find_xilinx_part("XC7Z020")->bsr_len);
    EXPECT_EQ(jtag_measure_boundary(chain, 2, &m), JTAG_OK) << m.reason;
    EXPECT_EQ(m.length, 448);
}

TEST_F(PinsTest, BoundaryLengthOfTheWireNotOfTheDescription) {
    Device* device = installed("XC7A100T");
    std::string text = sim::boundary_bsdl(fpga_->part());
    text.replace(text.find(" entity is 762;"), 15, " entity is 20000;");
    std::ofstream(path_) << text;
    ASSERT_EQ(device_load_description(device, path_.c_str()), 1) << printed();
    ASSERT_EQ(device_part(device)->bsr_len, 20000);
    BoundaryMeasure m;
    EXPECT_EQ(jtag_measure_boundary(device->chain, 0, &m), JTAG_OK) << m.reason;
    EXPECT_EQ(m.length, 762);
}

}  // namespace
}  // namespace vireo::test
