// The connector both USB drivers describe through options 11 (drawing), 14 (pin records) and 15
// (drive a user pin): the same 13 pins and the same drawing on the maker's cables and boards, and
// one rule for the user pins P0..P3.
#pragma once

#include <cstdint>

#include "cables/cable.h"

class CommandQueue;

namespace cable_connector {

struct Pin {
    const char* name;
    int kind;
};

// Pins by index; P0..P3 are user pins, driven through the pin register (bits 0-3 level,
// bits 4-7 enable).
extern const Pin kPins[13];
constexpr int kPinCount = 13;
constexpr int kFirstUserPin = 7;  // P0
constexpr int kUserPinCount = 4;
constexpr int kVccPin = 11;
constexpr int kVrefPin = 12;
// The pin register a cable starts with: P0 and P1 driven high, P2 and P3 released.
constexpr uint8_t kPinRegisterAtOpen = 0x33;
// The command that sets the user pins; the pin register follows it.
constexpr uint8_t kPinCommand = 0x03;

// The connector drawing, tab-separated lines ended by a null pointer.
extern const char* const kDrawing[18];

// Options 11 (drawing), 14 (pin record) and 15 (drive a user pin), as both USB drivers answer
// them; JTAG_UNSUPPORTED for any other code.
//  14: in int index, out CablePin. A user pin's state is its level (1 or 0) while driven, else 5
//      or 4 by its level bit; VCC 1; VREF 5 when the target is powered, else 4; others 10. An
//      index outside the table gives 0 and an empty record.
//  15: in CablePin. State 1 or 3 drives the named user pin high, 0 or 2 drives it low, 8 or 9
//      releases it; the new register then goes to the cable, flushed, after the pin command.
//      User pins are named in any letter case. Any other pin (TCK, VCC...), name or state leaves
//      the register alone and sends nothing; the result is 1 all the same.
// Missing in or out gives 0; a cable lost while sending gives JTAG_DISCONNECTED.
int connector_option(int code, const void* in, void* out, uint8_t* pin_register,
                     bool target_powered, CommandQueue& queue);

}  // namespace cable_connector
