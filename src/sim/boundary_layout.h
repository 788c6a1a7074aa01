// Boundary register and package pins of a virtual FPGA: which package pin each I/O pad sits on,
// its three cells, and what the board wires to it. The FPGA model captures its pads from this
// table and mkbsdl writes the part's BSDL file from the same table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/xilinx_parts.h"

namespace vireo::sim {

// What the board connects to a pad when the FPGA does not drive it.
enum class PadWiring {
    Open,    // nothing: reads 0 (weak pull-down on the board)
    PullUp,  // a button at rest behind a pull-up resistor: reads 1
    Clock,   // an oscillator: toggles every kClockHalfPeriodNs of modeled time
    Ground,  // tied to ground: reads 0 even while the FPGA drives 1
};

// About 13.5 kHz: an oscillator that no scan rate divides evenly, so that repeated samples see
// both levels rather than the same phase each time.
constexpr uint64_t kClockHalfPeriodNs = 37'013;

// One I/O pad: cells in Xilinx order, the 3-state control nearest TDO. The control is active low
// (disable value 1), the output a 3-state output3 cell, the input an input cell.
struct BoundaryPad {
    std::string port;  // "BTN0", "IO_17", ...
    std::string pin;   // package pin: "A3" on ball grids, "P12" on quad flat packages
    int control_cell = 0;
    int output_cell = 0;
    int input_cell = 0;
    PadWiring wiring = PadWiring::Open;
};

// A package pin without boundary cells (JTAG, supply, ground, no-connect).
struct LinkagePin {
    std::string port;  // "TCK", "GND", "VCCO", "NC", ...
    std::string pin;
};

struct BoundaryLayout {
    std::string entity;   // "XC7A100T_CSG324"
    std::string package;  // "CSG324"
    int length = 0;       // boundary register length (the part's bsr_len)
    int package_pins = 0;
    std::vector<BoundaryPad> pads;
    std::vector<LinkagePin> linkage;  // in package order
};

BoundaryLayout boundary_layout(const XilinxPart& part);

// The level a pad's wiring presents at a modeled time.
bool wiring_level(PadWiring wiring, uint64_t now_ns);

// The part's BSDL description text (IEEE 1149.1-2001 syntax) written from the layout.
std::string boundary_bsdl(const XilinxPart& part);

}  // namespace vireo::sim
