#include "cables/connector.h"

#include <strings.h>

#include <cstring>

#include "cables/cmd_queue.h"
#include "jtag/status.h"

namespace cable_connector {

const Pin kPins[13] = {
    {"NC0", 0}, {"NC", 0}, {"TCK", 3}, {"TDI", 3}, {"TMS", 3}, {"TDO", 3},  {"GND", 2},
    {"P0", 6},  {"P1", 6}, {"P2", 6},  {"P3", 6},  {"VCC", 1}, {"VREF", 4},
};

const char* const kDrawing[18] = {
    "package\t-44\t52\t44\t-52\tgreen\t",
    "rectangle\t-24\t64\t24\t8\tgray\t",
    "rectangle\t-20\t0\t20\t-40\tblack\t",
    "rpin\t\t32\t20\t40\t12\tred\tVref",
    "rpin\t\t32\t8\t40\t0\tred\tVCC",
    "rpin\t\t32\t-4\t40\t-12\tblack\tP3",
    "rpin\t\t32\t-16\t40\t-24\tblack\tP2",
    "rpin\t\t32\t-28\t40\t-36\tblack\tP1",
    "rpin\t\t32\t-40\t40\t-48\tblack\tP0",
    "circle\t\t-40\t20\t-32\t12\tblack\tNC",
    "rpin\t\t-40\t8\t-32\t0\tblack\tTCK",
    "rpin\t\t-40\t-4\t-32\t-12\tblack\tTDI",
    "tdi\t\t-40\t-4\t-32\t-12\t",
    "rpin\t\t-40\t-16\t-32\t-24\tblack\tTMS",
    "rpin\t\t-40\t-28\t-32\t-36\tblack\tTDO",
    "tdo\t\t-40\t-28\t-32\t-36\t",
    "rpin\t\t-40\t-40\t-32\t-48\tblack\tGND",
    nullptr,
};

namespace {

int pin_state(int index, uint8_t pin_register, bool target_powered) {
    const int user = index - kFirstUserPin;
    if (user >= 0 && user < kUserPinCount) {
        const bool driven = pin_register & (0x10 << user), high = pin_register & (1 << user);
        return driven ? (high ? 1 : 0) : (high ? 5 : 4);
    }
    if (index == kVccPin) return 1;
    if (index == kVrefPin) return target_powered ? 5 : 4;
    return 10;
}

// Applies the request to the register; true when it named a user pin and a known state.
bool apply_pin_request(const CablePin& request, uint8_t* pin_register) {
    // The record's name need not be terminated: compare at most its 20 bytes.
    char name[sizeof request.name + 1] = {};
    std::memcpy(name, request.name, sizeof request.name);
    for (int user = 0; user < kUserPinCount; ++user) {
        if (strcasecmp(name, kPins[kFirstUserPin + user].name) != 0) continue;
        const uint8_t level = 1 << user, enable = 0x10 << user;
        switch (request.state) {
            case 1:
            case 3:
                *pin_register |= enable | level;
                return true;
            case 0:
            case 2:
                *pin_register = (*pin_register | enable) & ~level;
                return true;
            case 8:
            case 9:
                *pin_register &= ~enable;
                return true;
            default:
                return false;
        }
    }
    return false;
}

bool pin_record(int index, uint8_t pin_register, bool target_powered, CablePin* pin) {
    *pin = CablePin{};
    if (index < 0 || index >= kPinCount) return false;
    pin->kind = kPins[index].kind;
    pin->state = pin_state(index, pin_register, target_powered);
    std::strncpy(pin->name, kPins[index].name, sizeof pin->name - 1);
    return true;
}

}  // namespace

int connector_option(int code, const void* in, void* out, uint8_t* pin_register,
                     bool target_powered, CommandQueue& queue) {
    switch (code) {
        case CABLE_OPT_DRAWING:
            if (!out) return JTAG_FAIL;
            *static_cast<const char* const**>(out) = kDrawing;
            return JTAG_OK;
        case CABLE_OPT_PIN_INFO:
            if (!in || !out) return JTAG_FAIL;
            return pin_record(*static_cast<const int*>(in), *pin_register, target_powered,
                              static_cast<CablePin*>(out))
                       ? JTAG_OK
                       : JTAG_FAIL;
        case CABLE_OPT_PIN_DRIVE:
            if (!in) return JTAG_FAIL;
            if (!apply_pin_request(*static_cast<const CablePin*>(in), pin_register)) return JTAG_OK;
            return queue.append({kPinCommand, *pin_register}, true);
        default:
            return JTAG_UNSUPPORTED;
    }
}

}  // namespace cable_connector
