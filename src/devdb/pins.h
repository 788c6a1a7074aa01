// Boundary-scan pin model: the package pins of a device description with their cells, type and a
// state that boundary-scan operations update from captured data and can drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct BsReg;
struct DeviceDescription;

enum PinType : int {
    PIN_NC = 0,
    PIN_VCC = 1,
    PIN_GND = 2,
    PIN_JTAG = 3,
    PIN_INPUT = 4,
    PIN_OUTPUT = 5,
    PIN_BIDIR = 6,
    PIN_OTHER = 7,
};

enum PinState : int {
    PIN_DRIVE0 = 0,  // driven 0 by request
    PIN_DRIVE1 = 1,  // driven 1 by request
    PIN_OUT0 = 2,    // output seen at 0
    PIN_OUT1 = 3,    // output seen at 1
    PIN_IN0 = 4,
    PIN_IN1 = 5,
    PIN_CONFLICT0 = 6,  // driven 1 but read 0
    PIN_CONFLICT1 = 7,  // driven 0 but read 1
    PIN_HIGHZ_ASKED = 8,
    PIN_HIGHZ = 9,
    PIN_UNPROBED = 10,
};

struct Pin {
    int state = PIN_UNPROBED;
    int type = PIN_NC;
    int access = 1;         // 0 accessible (has a cell), 1 not
    int disable_value = 2;  // 0 or 1; 2 when the pin has none
    std::string user_name;  // empty: none given
    std::string port_name;
    std::string pin_name;
    int32_t control_cell = -1;
    int32_t output_cell = -1;
    int32_t input_cell = -1;
};

struct PinTable {
    int count = 0;       // slots; slot 0 is never a pin
    int cell_count = 0;  // boundary register length
    std::vector<Pin> pins;
    int letter_pin_names = 0;
    int selected = 0;
    std::string selected_name;
    int selected_index = 0;
};

PinTable* pintable_build(const DeviceDescription* description);
void pintable_free(PinTable* table);
int pintable_count(const PinTable* table);

// Pins are named by pin name, letter case ignored; slot 0 is never found.
const char* pin_name_at(const PinTable* table, int index);
int pin_find(const PinTable* table, const char* pin_name);
// The pin whose user name is `name`, else the first whose port name is; "" when none.
const char* pin_by_port(const PinTable* table, const char* name);
void pin_cells(const PinTable* table, const char* pin_name, int* output, int* input, int* control);
int pin_disable_value(const PinTable* table, const char* pin_name);
void pin_type(const PinTable* table, const char* pin_name, int* type, int* access);
const char* pin_port_name(const PinTable* table, const char* pin_name);  // null: not found
int pin_get_state(const PinTable* table, const char* pin_name);
int pin_set_state(PinTable* table, const char* pin_name, int state);
void pin_set_user_name(PinTable* table, const char* pin_name, const char* user_name);
const char* pin_user_name(const PinTable* table, const char* pin_name);
void pin_select(PinTable* table, const char* pin_name, int on);

// Prepares one pin in a byte-per-cell buffer of `size` cells: mode 1 drives `bit`, any other
// mode releases the pin. Cells the pin lacks or the buffer does not hold are not written.
void pin_drive(PinTable* table, const char* pin_name, uint8_t* buffer, size_t size, int bit,
               int mode);
// Every accessible pin's state from the register's captured plane.
void pintable_update(PinTable* table, const BsReg* reg, int conflict_check);
// Output and control cells of accessible pins whose captured bit is not the bit the register's
// TDI plane shifted in: after an EXTEST scan that captured the data it had just updated, 0 says
// the register read back what it drives. -1 for no table or register.
int pintable_readback_mismatches(const PinTable* table, const BsReg* reg);
// Every pin's wanted state into the register's TDI plane.
void pintable_apply(const PinTable* table, BsReg* reg);
// Requests become observations at the start of an operation: 0 -> 2, 1 -> 3.
void pintable_settle(PinTable* table);

// "Pin state:output 0    " ...; `pin_state_label` is the same without prefix and padding.
const char* pin_state_text(int state);
std::string pin_state_label(int state);
const char* pin_type_text(int type);  // "INPUT  " ...
void pintable_dump(const PinTable* table);

struct PinTableFree {
    void operator()(PinTable* table) const { pintable_free(table); }
};
using PinTablePtr = std::unique_ptr<PinTable, PinTableFree>;
