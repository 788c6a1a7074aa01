// IEEE 1149.1 TAP controller states and the one-step walking rule every cable driver uses to
// move the TAP from its recorded state to a requested one.
#pragma once

#include <cstdint>

enum TapState : unsigned {
    TEST_LOGIC_RESET = 0,
    RUNTEST_IDLE = 1,
    SELECT_DR_SCAN = 2,
    CAPTURE_DR = 3,
    SHIFT_DR = 4,
    EXIT1_DR = 5,
    PAUSE_DR = 6,
    EXIT2_DR = 7,
    UPDATE_DR = 8,
    SELECT_IR_SCAN = 9,
    CAPTURE_IR = 10,
    SHIFT_IR = 11,
    EXIT1_IR = 12,
    PAUSE_IR = 13,
    EXIT2_IR = 14,
    UPDATE_IR = 15,
    // Lost state, counted by the TMS=1 clocks given since it was lost.
    UNKNOWN = 16,
    UNKNOWN2 = 17,
    UNKNOWN3 = 18,
    UNKNOWN4 = 19,
    UNKNOWN5 = 20,
};

// Drivers give up on a walk longer than this; no pair of states needs more than 12 steps.
constexpr int kTapWalkLimit = 20;

// One step from `current` towards `target`: returns the TMS bit to clock now and stores the
// state reached after that clock in *next.
int tap_next_step(unsigned current, unsigned target, unsigned* next);

// Long state name ("SHIFT_IR"); "UNDEFINED" above 20.
const char* tap_state_name(unsigned state);
// Prints the long name through the message sink, or "[%d]" above 20; no line end.
void tap_state_print(unsigned state);
// Short name ("IRSHIFT", any letter case) to state 0..15; anything else gives UNKNOWN.
unsigned tap_state_from_name(const char* name);

// The TMS sequence that walks *current to target, at most kTapWalkLimit clocks, one byte per
// clock into tms[]. Advances *current and returns the clock count (0 when already there), or -1
// when the target is not reached within the limit (*current then holds where the walk stopped).
int tap_walk(unsigned* current, unsigned target, uint8_t tms[kTapWalkLimit]);
