// The pin model on hand-made descriptions: names, classification, the update, apply and drive
// rules, and lookups of pins that are not there.
#include <gtest/gtest.h>

#include <memory>

#include "devdb/bsreg.h"
#include "devdb/devdesc.h"
#include "devdb/pins.h"
#include "jtag/msg.h"
#include "support/printed.h"

namespace vireo::test {
namespace {

using TablePtr = PinTablePtr;
struct RegFree {
    void operator()(BsReg* r) const { bsreg_free(r); }
};
using RegPtr = std::unique_ptr<BsReg, RegFree>;

PinMapEntry entry(const char* port, const char* pin, int out, int in, int ctl, char disval) {
    PinMapEntry e;
    e.port = port;
    e.pin = pin;
    e.output_cell = out;
    e.input_cell = in;
    e.control_cell = ctl;
    e.disable_value = disval;
    return e;
}

// Cells 0..5: IO (out 0, in 1, ctl 2, disable 1), OUT (out 3, ctl 2), IN (in 4), CTL (ctl 5).
DeviceDescription described(const char* first_pin) {
    DeviceDescription d;
    d.cells.resize(6);
    d.pins = {entry("IO", first_pin, 0, 1, 2, '1'),    entry("OUT", "P2", 3, -1, 2, '1'),
              entry("IN", "P3", -1, 4, -1, 'X'),       entry("VDD_CTL", "P4", -1, -1, 5, '0'),
              entry("SYNC_IN", "P5", -1, -1, -1, 'X'), entry("GNDA", "P6", -1, -1, -1, 'X'),
              entry("TRST_N", "P7", -1, -1, -1, 'X'),  entry("SPARE", "P8", 99, -1, -1, 'X')};
    return d;
}

TEST(PinModel, NamesAndClassification) {
    const DeviceDescription d = described("P1");
    TablePtr t(pintable_build(&d));
    ASSERT_TRUE(t);
    EXPECT_EQ(pintable_count(t.get()), 9);
    EXPECT_STREQ(pin_name_at(t.get(), 1), "1") << "P1 loses its letters";
    EXPECT_STREQ(pin_name_at(t.get(), 0), "") << "slot 0 is never a pin";
    EXPECT_EQ(pin_find(t.get(), ""), 0);
    int type = -1, access = -1;
    const std::pair<const char*, int> expected[] = {
        {"1", PIN_BIDIR}, {"2", PIN_OUTPUT}, {"3", PIN_INPUT}, {"4", PIN_VCC},
        {"5", PIN_NC},    {"6", PIN_GND},    {"7", PIN_JTAG},  {"8", PIN_OTHER}};
    for (const auto& [pin, want] : expected) {
        pin_type(t.get(), pin, &type, &access);
        EXPECT_EQ(type, want) << "pin " << pin;
    }
    pin_type(t.get(), "4", nullptr, &access);
    EXPECT_EQ(access, 0) << "a control cell alone makes the pin accessible";
    pin_type(t.get(), "8", nullptr, &access);
    EXPECT_EQ(access, 1) << "a cell beyond the register is no cell";

    DeviceDescription grid = described("A1");
    grid.pins[1].pin = "B2";
    TablePtr g(pintable_build(&grid));
    EXPECT_EQ(pin_find(g.get(), "a1"), 1) << "grid names stay, case ignored";
    EXPECT_EQ(pin_find(g.get(), "P2"), 0) << "no stripping once letter names are seen";

    pin_set_user_name(t.get(), "3", "BUTTON");
    EXPECT_STREQ(pin_by_port(t.get(), "button"), "3");
    EXPECT_STREQ(pin_by_port(t.get(), "out"), "2");
    EXPECT_STREQ(pin_by_port(t.get(), "nothing"), "");
    EXPECT_STREQ(pin_user_name(t.get(), "3"), "BUTTON");
    EXPECT_STREQ(pin_user_name(t.get(), "2"), "(undefined)");
    EXPECT_STREQ(pin_user_name(t.get(), "99"), "(invalid pin)");
    EXPECT_EQ(pin_get_state(t.get(), "99"), PIN_UNPROBED);
    EXPECT_EQ(pin_set_state(t.get(), "99", 1), 0);
    EXPECT_EQ(pin_disable_value(t.get(), "99"), 2);
    EXPECT_EQ(pin_port_name(t.get(), "99"), nullptr);
}

TEST(PinModel, UpdateApplyAndDriveRules) {
    const DeviceDescription d = described("P1");
    TablePtr t(pintable_build(&d));
    RegPtr reg(bsreg_new(6));
    auto capture = [&](int out, int in, int ctl) {
        bsreg_set(reg.get(), BSREG_TDOCAPTURE, static_cast<uint32_t>(out), 0, 1);
        bsreg_set(reg.get(), BSREG_TDOCAPTURE, static_cast<uint32_t>(in), 1, 1);
        bsreg_set(reg.get(), BSREG_TDOCAPTURE, static_cast<uint32_t>(ctl), 2, 1);
    };

    capture(1, 0, 1);  // control at the disable value: released, the input reads 0
    pintable_update(t.get(), reg.get(), 1);
    EXPECT_EQ(pin_get_state(t.get(), "1"), PIN_IN0);
    EXPECT_EQ(pin_get_state(t.get(), "2"), PIN_HIGHZ) << "released output without input";
    EXPECT_EQ(pin_get_state(t.get(), "5"), PIN_UNPROBED) << "no cell: kept";

    capture(1, 0, 0);  // enabled, driving 1, the pad reads 0
    pin_set_state(t.get(), "1", PIN_DRIVE1);
    pintable_update(t.get(), reg.get(), 0);
    EXPECT_EQ(pin_get_state(t.get(), "1"), PIN_DRIVE1) << "conflict check off";
    pintable_update(t.get(), reg.get(), 1);
    EXPECT_EQ(pin_get_state(t.get(), "1"), PIN_CONFLICT0);
    EXPECT_STREQ(pin_state_text(PIN_CONFLICT0), "Pin state:conflict 0  ");
    pintable_settle(t.get());
    EXPECT_EQ(pin_get_state(t.get(), "1"), PIN_CONFLICT0) << "only requests settle";
    capture(1, 1, 0);
    pintable_update(t.get(), reg.get(), 1);
    EXPECT_EQ(pin_get_state(t.get(), "1"), PIN_DRIVE1) << "the conflict went away";
    pintable_settle(t.get());
    pintable_update(t.get(), reg.get(), 1);
    EXPECT_EQ(pin_get_state(t.get(), "1"), PIN_OUT1);

    // Apply: enabled outputs get the inverse of the disable value, released pins the value.
    pin_set_state(t.get(), "1", PIN_DRIVE0);
    pin_set_state(t.get(), "4", PIN_HIGHZ);
    bsreg_fill(reg.get(), BSREG_TDI, 1, 0, 0);
    pintable_apply(t.get(), reg.get());
    uint32_t tdi = 0;
    bsreg_get(reg.get(), BSREG_TDI, 0, 6, &tdi);
    // Cells 5..0: P4's control 0 (its disable value), P3's input untouched, P2's output 0 as
    // last seen, the shared control 0 (enabled), P1's input and output 0.
    EXPECT_EQ(tdi, 0b010000u);

    // Drive writes only the cells the pin has and the buffer holds.
    uint8_t buffer[6] = {7, 7, 7, 7, 7, 7};
    pin_drive(t.get(), "2", buffer, 6, 1, 1);
    EXPECT_EQ(pin_get_state(t.get(), "2"), PIN_DRIVE1);
    EXPECT_EQ(buffer[3], 1);
    EXPECT_EQ(buffer[2], 0);
    pin_drive(t.get(), "1", buffer, 2, 1, 0);
    EXPECT_EQ(pin_get_state(t.get(), "1"), PIN_HIGHZ);
    EXPECT_EQ(buffer[2], 0) << "the control cell lies beyond the 2-cell buffer";
    pin_drive(t.get(), "3", buffer, 6, 1, 1);  // no output, no disable value
    EXPECT_EQ((std::vector<uint8_t>(buffer, buffer + 6)), (std::vector<uint8_t>{7, 7, 0, 1, 7, 7}));
}

TEST(PinModel, DumpListsEverySlot) {
    set_print_callback(collect_print);
    printed().clear();
    const DeviceDescription d = described("P1");
    TablePtr t(pintable_build(&d));
    pintable_dump(t.get());
    EXPECT_EQ(printed().substr(0, printed().find('\n', printed().find('\n') + 1) + 1),
              "max pin array:9\n"
              "pin 0, org name: user name: ccell:-1 ocell:-1 icell:-1 NC     INACCESSIBLE   "
              "NO DISVAL      Pin state:unprobed    \n");
    EXPECT_NE(printed().find("pin 1, org name:IO user name: ccell:2 ocell:0 icell:1 BIDIR  "
                             "ACCESSIBLE     DISVAL=1       Pin state:unprobed    \n"),
              std::string::npos);
}

}  // namespace
}  // namespace vireo::test
