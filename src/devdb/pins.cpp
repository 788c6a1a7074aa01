#include "devdb/pins.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <new>

#include "devdb/bsreg.h"
#include "devdb/devdesc.h"
#include "jtag/msg.h"

namespace {

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool contains_any(const std::string& text, std::initializer_list<const char*> words) {
    for (const char* w : words) {
        if (text.find(w) != std::string::npos) return true;
    }
    return false;
}

int classify(const Pin& pin) {
    const bool out = pin.output_cell >= 0, in = pin.input_cell >= 0, ctl = pin.control_cell >= 0;
    if (out && ctl && in) return PIN_BIDIR;
    if (in && !out) return PIN_INPUT;
    if (out && !in) return PIN_OUTPUT;
    const std::string name = upper(pin.port_name);
    if (contains_any(name, {"VCC", "VDD", "VPP"})) return PIN_VCC;
    if (contains_any(name, {"GND", "VSS", "VEE"})) return PIN_GND;
    if (contains_any(name, {"TDI", "TCK", "TMS", "TDO", "TRST"})) return PIN_JTAG;
    if (contains_any(name, {"NC", "NOCONNECT", "NONCONNECT"})) return PIN_NC;
    return PIN_OTHER;
}

// A cell number the table can use: inside the register, else absent.
int32_t cell_or_none(int32_t cell, int cell_count) {
    return cell >= 0 && cell < cell_count ? cell : -1;
}

Pin* find(PinTable* table, const char* pin_name) {
    if (!table || !pin_name) return nullptr;
    for (int i = 1; i < table->count; ++i) {
        Pin& pin = table->pins[static_cast<size_t>(i)];
        if (strcasecmp(pin.pin_name.c_str(), pin_name) == 0) return &pin;
    }
    return nullptr;
}

const Pin* find(const PinTable* table, const char* pin_name) {
    return find(const_cast<PinTable*>(table), pin_name);
}

int captured_bit(const BsReg* reg, int32_t cell) {
    if (cell < 0) return 0;
    uint32_t value = 0;
    bsreg_get(reg, BSREG_TDOCAPTURE, cell, 1, &value);
    return static_cast<int>(value & 1);
}

void write_bit(BsReg* reg, int32_t cell, int bit) {
    if (cell >= 0) bsreg_set(reg, BSREG_TDI, static_cast<uint32_t>(bit), cell, 1);
}

}  // namespace

PinTable* pintable_build(const DeviceDescription* description) {
    if (!description) return nullptr;
    try {
        auto table = std::make_unique<PinTable>();
        table->count = static_cast<int>(description->pins.size()) + 1;
        table->cell_count = static_cast<int>(description->cells.size());
        table->pins.resize(static_cast<size_t>(table->count));
        for (const PinMapEntry& entry : description->pins) {
            const char first = entry.pin.empty() ? '\0' : entry.pin[0];
            if (first == 'A' || first == 'B') table->letter_pin_names = 1;
        }
        for (size_t k = 0; k < description->pins.size(); ++k) {
            const PinMapEntry& entry = description->pins[k];
            Pin& pin = table->pins[k + 1];
            pin.pin_name = entry.pin;
            if (!table->letter_pin_names) {
                const size_t digit = pin.pin_name.find_first_of("0123456789");
                pin.pin_name.erase(0, digit == std::string::npos ? pin.pin_name.size() : digit);
            }
            pin.port_name = entry.port;
            pin.output_cell = cell_or_none(entry.output_cell, table->cell_count);
            pin.input_cell = cell_or_none(entry.input_cell, table->cell_count);
            pin.control_cell = cell_or_none(entry.control_cell, table->cell_count);
            pin.disable_value = entry.disable_value == '0' ? 0 : entry.disable_value == '1' ? 1 : 2;
            const bool any_cell =
                pin.output_cell >= 0 || pin.input_cell >= 0 || pin.control_cell >= 0;
            pin.access = any_cell ? 0 : 1;
            pin.type = classify(pin);
        }
        return table.release();
    } catch (const std::bad_alloc&) {
        msg_print("pin table: out of memory\n");
        return nullptr;
    }
}

void pintable_free(PinTable* table) {
    std::unique_ptr<PinTable> owned(table);
}

int pintable_count(const PinTable* table) {
    return table ? table->count : 0;
}

const char* pin_name_at(const PinTable* table, int index) {
    if (!table || index < 1 || index >= table->count) return "";
    return table->pins[static_cast<size_t>(index)].pin_name.c_str();
}

int pin_find(const PinTable* table, const char* pin_name) {
    const Pin* pin = find(table, pin_name);
    return pin ? static_cast<int>(pin - table->pins.data()) : 0;
}

const char* pin_by_port(const PinTable* table, const char* name) {
    if (!table || !name) return "";
    for (int i = 1; i < table->count; ++i) {
        const Pin& pin = table->pins[static_cast<size_t>(i)];
        if (!pin.user_name.empty() && strcasecmp(pin.user_name.c_str(), name) == 0)
            return pin.pin_name.c_str();
    }
    for (int i = 1; i < table->count; ++i) {
        const Pin& pin = table->pins[static_cast<size_t>(i)];
        if (strcasecmp(pin.port_name.c_str(), name) == 0) return pin.pin_name.c_str();
    }
    return "";
}

void pin_cells(const PinTable* table, const char* pin_name, int* output, int* input, int* control) {
    const Pin* pin = find(table, pin_name);
    if (output) *output = pin ? pin->output_cell : -1;
    if (input) *input = pin ? pin->input_cell : -1;
    if (control) *control = pin ? pin->control_cell : -1;
}

int pin_disable_value(const PinTable* table, const char* pin_name) {
    const Pin* pin = find(table, pin_name);
    return pin ? pin->disable_value : 2;
}

void pin_type(const PinTable* table, const char* pin_name, int* type, int* access) {
    const Pin* pin = find(table, pin_name);
    if (type) *type = pin ? pin->type : PIN_NC;
    if (access) *access = pin ? pin->access : 1;
}

const char* pin_port_name(const PinTable* table, const char* pin_name) {
    const Pin* pin = find(table, pin_name);
    return pin ? pin->port_name.c_str() : nullptr;
}

int pin_get_state(const PinTable* table, const char* pin_name) {
    const Pin* pin = find(table, pin_name);
    return pin ? pin->state : PIN_UNPROBED;
}

int pin_set_state(PinTable* table, const char* pin_name, int state) {
    Pin* pin = find(table, pin_name);
    if (!pin) return 0;
    pin->state = state;
    return 1;
}

void pin_set_user_name(PinTable* table, const char* pin_name, const char* user_name) {
    if (Pin* pin = find(table, pin_name)) pin->user_name = user_name ? user_name : "";
}

const char* pin_user_name(const PinTable* table, const char* pin_name) {
    const Pin* pin = find(table, pin_name);
    if (!pin) return "(invalid pin)";
    return pin->user_name.empty() ? "(undefined)" : pin->user_name.c_str();
}

void pin_select(PinTable* table, const char* pin_name, int on) {
    if (!table) return;
    table->selected = on ? 1 : 0;
    table->selected_name = on && pin_name ? pin_name : "";
    table->selected_index = on ? pin_find(table, pin_name) : 0;
}

void pin_drive(PinTable* table, const char* pin_name, uint8_t* buffer, size_t size, int bit,
               int mode) {
    Pin* pin = find(table, pin_name);
    if (!pin) return;
    auto put = [&](int32_t cell, int value) {
        if (buffer && cell >= 0 && static_cast<size_t>(cell) < size)
            buffer[cell] = static_cast<uint8_t>(value);
    };
    if (mode == 1) {
        pin->state = bit ? PIN_DRIVE1 : PIN_DRIVE0;
        if (pin->disable_value != 2) put(pin->control_cell, !pin->disable_value);
        put(pin->output_cell, bit ? 1 : 0);
    } else {
        pin->state = PIN_HIGHZ;
        if (pin->disable_value != 2) put(pin->control_cell, pin->disable_value);
    }
}

void pintable_update(PinTable* table, const BsReg* reg, int conflict_check) {
    if (!table || !reg) return;
    for (int i = 1; i < table->count; ++i) {
        Pin& pin = table->pins[static_cast<size_t>(i)];
        if (pin.access != 0) continue;
        const int b = captured_bit(reg, pin.input_cell);
        const int c = captured_bit(reg, pin.control_cell);
        const int d = captured_bit(reg, pin.output_cell);
        const bool has_input = pin.input_cell >= 0;
        const bool off = pin.output_cell < 0 || (pin.control_cell >= 0 && pin.disable_value != 2 &&
                                                 c == pin.disable_value);
        if (off) {
            pin.state = !has_input ? PIN_HIGHZ : b ? PIN_IN1 : PIN_IN0;
        } else if (pin.state == PIN_DRIVE1 || pin.state == PIN_CONFLICT0) {
            pin.state =
                has_input && d == 1 && b == 0 && conflict_check ? PIN_CONFLICT0 : PIN_DRIVE1;
        } else if (pin.state == PIN_DRIVE0 || pin.state == PIN_CONFLICT1) {
            pin.state =
                has_input && d == 0 && b == 1 && conflict_check ? PIN_CONFLICT1 : PIN_DRIVE0;
        } else {
            pin.state = d ? PIN_OUT1 : PIN_OUT0;
        }
    }
}

int pintable_readback_mismatches(const PinTable* table, const BsReg* reg) {
    if (!table || !reg) return -1;
    const int length = bsreg_length(reg);
    std::vector<bool> seen(static_cast<size_t>(std::max(length, 0)), false);
    int wrong = 0;
    for (int i = 1; i < table->count; ++i) {
        const Pin& pin = table->pins[static_cast<size_t>(i)];
        if (pin.access != 0) continue;
        for (const int32_t cell : {pin.output_cell, pin.control_cell}) {
            if (cell < 0 || cell >= length || seen[static_cast<size_t>(cell)]) continue;
            seen[static_cast<size_t>(cell)] = true;
            uint32_t shifted = 0;
            bsreg_get(reg, BSREG_TDI, cell, 1, &shifted);
            if ((shifted & 1) != static_cast<uint32_t>(captured_bit(reg, cell))) ++wrong;
        }
    }
    return wrong;
}

void pintable_apply(const PinTable* table, BsReg* reg) {
    if (!table || !reg) return;
    for (int i = 1; i < table->count; ++i) {
        const Pin& pin = table->pins[static_cast<size_t>(i)];
        int level = -1;
        switch (pin.state) {
            case PIN_DRIVE0:
            case PIN_OUT0:
            case PIN_CONFLICT1:
                level = 0;
                break;
            case PIN_DRIVE1:
            case PIN_OUT1:
            case PIN_CONFLICT0:
                level = 1;
                break;
            default:
                break;
        }
        if (level < 0) {
            if (pin.disable_value != 2) write_bit(reg, pin.control_cell, pin.disable_value);
            continue;
        }
        if (pin.disable_value != 2) write_bit(reg, pin.control_cell, !pin.disable_value);
        write_bit(reg, pin.output_cell, level);
        write_bit(reg, pin.input_cell, level);
    }
}

void pintable_settle(PinTable* table) {
    if (!table) return;
    for (Pin& pin : table->pins) {
        if (pin.state == PIN_DRIVE0) pin.state = PIN_OUT0;
        if (pin.state == PIN_DRIVE1) pin.state = PIN_OUT1;
    }
}

const char* pin_state_text(int state) {
    switch (state) {
        case PIN_DRIVE0:
        case PIN_OUT0:
            return "Pin state:output 0    ";
        case PIN_DRIVE1:
        case PIN_OUT1:
            return "Pin state:output 1    ";
        case PIN_IN0:
            return "Pin state:input 0     ";
        case PIN_IN1:
            return "Pin state:input 1     ";
        case PIN_CONFLICT0:
            return "Pin state:conflict 0  ";
        case PIN_CONFLICT1:
            return "Pin state:conflict 1  ";
        case PIN_HIGHZ_ASKED:
        case PIN_HIGHZ:
            return "Pin state:HI-Z        ";
        case PIN_UNPROBED:
            return "Pin state:unprobed    ";
        default:
            return "Pin state:ILLEGAL     ";
    }
}

std::string pin_state_label(int state) {
    std::string text = pin_state_text(state) + std::string("Pin state:").size();
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

const char* pin_type_text(int type) {
    static const char* const kTypes[] = {"NC     ", "VCC    ", "GND    ", "JTAG   ",
                                         "INPUT  ", "OUTPUT ", "BIDIR  ", "OTHER  "};
    return type >= 0 && type <= PIN_OTHER ? kTypes[type] : "OTHER  ";
}

void pintable_dump(const PinTable* table) {
    if (!table) return;
    msg_print("max pin array:%d\n", table->count);
    for (int i = 0; i < table->count; ++i) {
        const Pin& pin = table->pins[static_cast<size_t>(i)];
        const char* access = pin.access == 0   ? "ACCESSIBLE     "
                             : pin.access == 1 ? "INACCESSIBLE   "
                                               : "ILLEGAL VALUE  ";
        const char* disable = pin.disable_value == 0   ? "DISVAL=0       "
                              : pin.disable_value == 1 ? "DISVAL=1       "
                              : pin.disable_value == 2 ? "NO DISVAL      "
                                                       : "ILLEGAL DISVAL ";
        msg_print("pin %d, org name:%s user name:%s ", i, pin.port_name.c_str(),
                  pin.user_name.c_str());
        msg_print("ccell:%d ocell:%d icell:%d ", pin.control_cell, pin.output_cell, pin.input_cell);
        msg_print("%s%s%s%s\n", pin_type_text(pin.type), access, disable,
                  pin_state_text(pin.state));
    }
}
