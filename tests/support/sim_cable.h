// A cable driver for tests: the full slot contract of a USB driver, over a virtual board's JTAG
// chain instead of USB, so chain, operations and modules run against modeled hardware.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cables/cable.h"
#include "sim/tap_chain.h"

namespace vireo::test {

struct SimCableState {
    std::unique_ptr<sim::TapChain> chain;
    unsigned tap_state = 16;    // recorded TAP state, UNKNOWN after init
    int64_t unplug_after = -1;  // transfers until the board is pulled out; -1 never
    int64_t transfers = 0;
    bool gone = false;
    bool defers = false;  // answers option 18 as a cable that keeps captures on their way
    std::vector<int> lock_requests;   // values of option 9, in order
    std::vector<std::string> labels;  // labels handed to shift_inout
    // With record_shifts set, every shift_inout: kind (1 IR, 2 DR), label, TDI and captured bits.
    struct Shift {
        int kind = 0;
        std::string label;
        std::vector<uint8_t> tdi;
        std::vector<uint8_t> tdo;
    };
    bool record_shifts = false;
    std::vector<Shift> shifts;
};

const CableDriver& sim_cable_driver();

// Opens a cable named "sim" over the given chain.
Cable* sim_cable_open(std::unique_ptr<sim::TapChain> chain);
SimCableState& sim_cable_state(Cable* cable);

struct CableFree {
    void operator()(Cable* cable) const { cable_free(cable); }
};
using CablePtr = std::unique_ptr<Cable, CableFree>;

}  // namespace vireo::test
