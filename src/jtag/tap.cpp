#include "jtag/tap.h"

#include <strings.h>

#include <algorithm>
#include <array>

#include "jtag/msg.h"

namespace {

struct StateNames {
    const char* name;
    const char* short_name;
};

constexpr StateNames kNames[] = {
    {"TEST_LOGIC_RESET", "RESET"},  {"RUNTEST_IDLE", "IDLE"},    {"SELECT_DR_SCAN", "DRSELECT"},
    {"CAPTURE_DR", "DRCAPTURE"},    {"SHIFT_DR", "DRSHIFT"},     {"EXIT1_DR", "DREXIT1"},
    {"PAUSE_DR", "DRPAUSE"},        {"EXIT2_DR", "DREXIT2"},     {"UPDATE_DR", "DRUPDATE"},
    {"SELECT_IR_SCAN", "IRSELECT"}, {"CAPTURE_IR", "IRCAPTURE"}, {"SHIFT_IR", "IRSHIFT"},
    {"EXIT1_IR", "IREXIT1"},        {"PAUSE_IR", "IRPAUSE"},     {"EXIT2_IR", "IREXIT2"},
    {"UPDATE_IR", "IRUPDATE"},      {"UNKNOWN", nullptr},        {"UNKNOWN2", nullptr},
    {"UNKNOWN3", nullptr},          {"UNKNOWN4", nullptr},       {"UNKNOWN5", nullptr},
};
constexpr unsigned kStateCount = sizeof(kNames) / sizeof(kNames[0]);

bool in_range(unsigned t, unsigned lo, unsigned hi) {
    return t >= lo && t <= hi;
}

// Whether the TMS=0 branch leads towards `target` from `current`.
bool take_zero_branch(unsigned current, unsigned t) {
    switch (current) {
        case TEST_LOGIC_RESET:
            return t != TEST_LOGIC_RESET;
        case RUNTEST_IDLE:
            return t == RUNTEST_IDLE;
        case SELECT_DR_SCAN:
            return in_range(t, CAPTURE_DR, UPDATE_DR);
        case CAPTURE_DR:
            return t == SHIFT_DR;
        case SHIFT_DR:
            return t == SHIFT_DR;
        case EXIT1_DR:
            return t == SHIFT_DR || t == PAUSE_DR || t == EXIT2_DR;
        case PAUSE_DR:
            return t == PAUSE_DR;
        case EXIT2_DR:
            return in_range(t, SHIFT_DR, EXIT2_DR);
        case UPDATE_DR:
            return t == TEST_LOGIC_RESET || t == RUNTEST_IDLE || t == UPDATE_DR || t > UPDATE_IR;
        case SELECT_IR_SCAN:
            return in_range(t, CAPTURE_IR, UPDATE_IR);
        case CAPTURE_IR:
            return t == SHIFT_IR;
        case SHIFT_IR:
            return t == SHIFT_IR;
        case EXIT1_IR:
            return t == SHIFT_IR || t == PAUSE_IR || t == EXIT2_IR;
        case PAUSE_IR:
            return t == PAUSE_IR;
        case EXIT2_IR:
            return in_range(t, SHIFT_IR, EXIT2_IR);
        case UPDATE_IR:
            return t == TEST_LOGIC_RESET || t == RUNTEST_IDLE || t > UPDATE_IR;
        default:
            return false;
    }
}

// Successor states of 0..15 on TMS 0 and TMS 1 (IEEE 1149.1 state diagram).
constexpr unsigned kNextOn0[16] = {
    RUNTEST_IDLE, RUNTEST_IDLE, CAPTURE_DR, SHIFT_DR, SHIFT_DR, PAUSE_DR, PAUSE_DR, SHIFT_DR,
    RUNTEST_IDLE, CAPTURE_IR,   SHIFT_IR,   SHIFT_IR, PAUSE_IR, PAUSE_IR, SHIFT_IR, RUNTEST_IDLE};
constexpr unsigned kNextOn1[16] = {
    TEST_LOGIC_RESET, SELECT_DR_SCAN, SELECT_IR_SCAN, EXIT1_DR,         EXIT1_DR, UPDATE_DR,
    EXIT2_DR,         UPDATE_DR,      SELECT_DR_SCAN, TEST_LOGIC_RESET, EXIT1_IR, EXIT1_IR,
    UPDATE_IR,        EXIT2_IR,       UPDATE_IR,      SELECT_DR_SCAN};

}  // namespace

int tap_next_step(unsigned current, unsigned target, unsigned* next) {
    unsigned reached;
    int tms;
    if (target == UNKNOWN) {
        tms = 0;
        reached = UNKNOWN;
    } else if (current <= UPDATE_IR) {
        tms = take_zero_branch(current, target) ? 0 : 1;
        reached = tms ? kNextOn1[current] : kNextOn0[current];
    } else {
        // Lost: five TMS=1 clocks reach Test-Logic-Reset from anywhere.
        tms = 1;
        reached = current >= UNKNOWN && current < UNKNOWN5 ? current + 1
                  : current == UNKNOWN5                    ? TEST_LOGIC_RESET
                                                           : UNKNOWN2;
    }
    if (next) *next = reached;
    return tms;
}

const char* tap_state_name(unsigned state) {
    return state < kStateCount ? kNames[state].name : "UNDEFINED";
}

void tap_state_print(unsigned state) {
    if (state < kStateCount)
        msg_print("%s", kNames[state].name);
    else
        msg_print("[%d]", static_cast<int>(state));
}

unsigned tap_state_from_name(const char* name) {
    if (!name) return UNKNOWN;
    for (unsigned s = TEST_LOGIC_RESET; s <= UPDATE_IR; ++s) {
        if (strcasecmp(name, kNames[s].short_name) == 0) return s;
    }
    return UNKNOWN;
}

namespace {

// The walks between the sixteen states of the diagram, worked out once: every scan walks two.
struct Walk {
    int steps = 0;
    uint8_t tms[kTapWalkLimit] = {};
};
using WalkTable = std::array<std::array<Walk, 16>, 16>;

// Built at first use: drivers build their own tables from walks while starting up.
const WalkTable& walks() {
    static const WalkTable table = [] {
        WalkTable walks{};
        for (unsigned from = 0; from < 16; ++from) {
            for (unsigned to = 0; to < 16; ++to) {
                Walk& walk = walks[from][to];
                for (unsigned at = from; at != to;)
                    walk.tms[walk.steps++] = static_cast<uint8_t>(tap_next_step(at, to, &at));
            }
        }
        return walks;
    }();
    return table;
}

}  // namespace

int tap_walk(unsigned* current, unsigned target, uint8_t tms[kTapWalkLimit]) {
    if (!current) return -1;
    if (*current < 16 && target < 16) {
        const Walk& walk = walks()[*current][target];
        std::copy_n(walk.tms, walk.steps, tms);
        *current = target;
        return walk.steps;
    }
    int steps = 0;
    while (*current != target) {
        if (steps == kTapWalkLimit) return -1;
        tms[steps++] = static_cast<uint8_t>(tap_next_step(*current, target, current));
    }
    return steps;
}
