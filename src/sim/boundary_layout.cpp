#include "sim/boundary_layout.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "sim/xilinx_instructions.h"

namespace vireo::sim {
namespace {

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

int trailing_number(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && !std::isdigit(static_cast<unsigned char>(text[end - 1]))) --end;
    size_t start = end;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(text[start - 1]))) --start;
    return start < end ? std::stoi(text.substr(start, end - start)) : 0;
}

// Ball-grid row names: A..Y without I, O, Q, S, X, Z, then AA, AB, ...
std::string grid_row(int row) {
    static const char kRows[] = "ABCDEFGHJKLMNPRTUVWY";
    constexpr int kCount = sizeof(kRows) - 1;
    if (row < kCount) return std::string(1, kRows[row]);
    return std::string(1, kRows[row / kCount - 1]) + kRows[row % kCount];
}

// Row then number; appended piece by piece (GCC 12 warns falsely on operator+ here).
std::string pin_name(const std::string& row, int number) {
    std::string name = row;
    name.append(std::to_string(number));
    return name;
}

// Package pin names in package order.
std::vector<std::string> package_pins(const std::string& package, int count) {
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(count));
    const bool quad_flat = package.rfind("TQ", 0) == 0;
    if (quad_flat) {
        for (int i = 1; i <= count; ++i) names.push_back(pin_name("P", i));
        return names;
    }
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    for (int r = 0; r < side && static_cast<int>(names.size()) < count; ++r) {
        for (int c = 1; c <= side && static_cast<int>(names.size()) < count; ++c)
            names.push_back(pin_name(grid_row(r), c));
    }
    return names;
}

// The pads the board wires to something, in pad order; every other pad is open.
struct WiredPad {
    const char* port;
    PadWiring wiring;
};
constexpr WiredPad kWired[] = {
    {"BTN0", PadWiring::PullUp},
    {"CLK0", PadWiring::Clock},
    {"LED0", PadWiring::Open},
    {"SW0", PadWiring::Ground},
};

}  // namespace

BoundaryLayout boundary_layout(const XilinxPart& part) {
    BoundaryLayout layout;
    layout.package = upper(part.package);
    layout.entity = std::string(part.name) + "_" + layout.package;
    layout.length = part.bsr_len;
    layout.package_pins = trailing_number(layout.package);
    const std::vector<std::string> pins = package_pins(layout.package, layout.package_pins);

    // JTAG on the first four pins, then every eighth pin a supply or ground, the rest I/O pads
    // while boundary cells last; the pins left over are not connected.
    static const char* const kJtag[] = {"TCK", "TMS", "TDI", "TDO"};
    static const char* const kSupply[] = {"GND", "VCCO", "GND", "VCCINT"};
    const int max_pads = layout.length / 3;
    int supply = 0;
    for (size_t i = 0; i < pins.size(); ++i) {
        if (i < 4) {
            layout.linkage.push_back({kJtag[i], pins[i]});
        } else if ((i - 4) % 8 == 7) {
            layout.linkage.push_back({kSupply[supply++ % 4], pins[i]});
        } else if (static_cast<int>(layout.pads.size()) < max_pads) {
            const int k = static_cast<int>(layout.pads.size());
            BoundaryPad pad;
            if (k < static_cast<int>(std::size(kWired))) {
                pad.port = kWired[k].port;
                pad.wiring = kWired[k].wiring;
            } else {
                pad.port = "IO_" + std::to_string(k);
            }
            pad.pin = pins[i];
            pad.control_cell = 3 * k;
            pad.output_cell = 3 * k + 1;
            pad.input_cell = 3 * k + 2;
            layout.pads.push_back(std::move(pad));
        } else {
            layout.linkage.push_back({"NC", pins[i]});
        }
    }
    return layout;
}

bool wiring_level(PadWiring wiring, uint64_t now_ns) {
    switch (wiring) {
        case PadWiring::PullUp:
            return true;
        case PadWiring::Clock:
            return (now_ns / kClockHalfPeriodNs) % 2 == 1;
        case PadWiring::Open:
        case PadWiring::Ground:
            return false;
    }
    return false;
}

namespace {

// The instructions the model implements, under their BSDL names.
struct NamedInstruction {
    const char* name;
    XilinxInstr instr;
};

std::vector<NamedInstruction> named_instructions(Family family) {
    std::vector<NamedInstruction> list = {
        {"EXTEST", XilinxInstr::Extest},       {"SAMPLE", XilinxInstr::Sample},
        {"PRELOAD", XilinxInstr::Sample},      {"USER1", XilinxInstr::User1},
        {"USER2", XilinxInstr::User2},         {"USER3", XilinxInstr::User3},
        {"USER4", XilinxInstr::User4},         {"CFG_OUT", XilinxInstr::CfgOut},
        {"CFG_IN", XilinxInstr::CfgIn},        {"USERCODE", XilinxInstr::Usercode},
        {"IDCODE", XilinxInstr::Idcode},       {"HIGHZ", XilinxInstr::Highz},
        {"JPROGRAM", XilinxInstr::Jprogram},   {"JSTART", XilinxInstr::Jstart},
        {"JSHUTDOWN", XilinxInstr::Jshutdown}, {"ISC_ENABLE", XilinxInstr::IscEnable},
        {"ISC_NOOP", XilinxInstr::IscNoop},    {"ISC_DISABLE", XilinxInstr::IscDisable},
    };
    if (family == Family::Spartan6) {
        list.push_back({"ISC_DNA", XilinxInstr::Dna});
    } else {
        list.push_back({"XSC_DNA", XilinxInstr::Dna});
        list.push_back({"FUSE_DNA", XilinxInstr::FuseDna});
    }
    list.push_back({"BYPASS", XilinxInstr::Bypass});
    return list;
}

std::string bits(uint32_t value, int count) {
    std::string text;
    for (int i = count - 1; i >= 0; --i) text += (value >> i) & 1 ? '1' : '0';
    return text;
}

// Linkage ports: one bit_vector per name that occurs more than once.
struct LinkageGroup {
    std::string port;
    std::vector<std::string> pins;
};

std::vector<LinkageGroup> linkage_groups(const BoundaryLayout& layout) {
    std::vector<LinkageGroup> groups;
    for (const LinkagePin& l : layout.linkage) {
        auto found = std::find_if(groups.begin(), groups.end(),
                                  [&](const LinkageGroup& g) { return g.port == l.port; });
        if (found == groups.end()) {
            groups.push_back({l.port, {}});
            found = groups.end() - 1;
        }
        found->pins.push_back(l.pin);
    }
    return groups;
}

}  // namespace

std::string boundary_bsdl(const XilinxPart& part) {
    const BoundaryLayout layout = boundary_layout(part);
    const std::vector<LinkageGroup> groups = linkage_groups(layout);
    std::string s;
    auto line = [&](const std::string& text) { s += text + "\n"; };

    line("-- BSDL description of the VireoJTAG virtual board's " + std::string(part.name) + " in " +
         layout.package + ".");
    line("-- Written by mkbsdl from the virtual FPGA's own pad table: the pad placement, port");
    line("-- names and pin names are the model's, not those of the silicon part.");
    line("");
    line("entity " + layout.entity + " is");
    line("");
    line("-- The generic parameter names the package.");
    line("generic (PHYSICAL_PIN_MAP : string := \"" + layout.package + "\");");
    line("");
    line("port (");
    for (const LinkageGroup& g : groups) {
        if (g.port == "TDO") {
            line("    TDO: out bit;");
        } else if (g.port == "TCK" || g.port == "TMS" || g.port == "TDI") {
            line("    " + g.port + ": in bit;");
        } else if (g.pins.size() == 1) {
            line("    " + g.port + ": linkage bit;");
        } else {
            line("    " + g.port + ": linkage bit_vector (1 to " + std::to_string(g.pins.size()) +
                 ");");
        }
    }
    for (size_t i = 0; i < layout.pads.size(); ++i) {
        line("    " + layout.pads[i].port + ": inout bit" +
             (i + 1 < layout.pads.size() ? ";" : ""));
    }
    line(");");
    line("");
    line("use STD_1149_1_2001.all;");
    line("");
    line("attribute COMPONENT_CONFORMANCE of " + layout.entity +
         " : entity is \"STD_1149_1_2001\";");
    line("");
    line("attribute PIN_MAP of " + layout.entity + " : entity is PHYSICAL_PIN_MAP;");
    line("");
    line("constant " + layout.package + ": PIN_MAP_STRING :=");
    std::vector<std::string> entries;
    for (const LinkageGroup& g : groups) {
        if (g.pins.size() == 1) {
            entries.push_back(g.port + ":" + g.pins[0]);
            continue;
        }
        // Bus lists run over several segments, eight pins each.
        std::string entry = g.port + ":(";
        for (size_t i = 0; i < g.pins.size(); ++i) {
            entry += g.pins[i];
            if (i + 1 < g.pins.size()) entry += (i % 8 == 7) ? ",\" &\n        \"" : ",";
        }
        entries.push_back(entry + ")");
    }
    for (const BoundaryPad& pad : layout.pads) entries.push_back(pad.port + ":" + pad.pin);
    for (size_t i = 0; i < entries.size(); ++i) {
        line("    \"" + entries[i] + (i + 1 < entries.size() ? ",\" &" : "\";"));
    }
    line("");
    line("attribute TAP_SCAN_IN of TDI : signal is true;");
    line("attribute TAP_SCAN_MODE of TMS : signal is true;");
    line("attribute TAP_SCAN_OUT of TDO : signal is true;");
    line("attribute TAP_SCAN_CLOCK of TCK : signal is (30.0e6, BOTH);");
    line("");
    line("attribute INSTRUCTION_LENGTH of " + layout.entity + " : entity is 6;");
    line("");
    line("attribute INSTRUCTION_OPCODE of " + layout.entity + " : entity is");
    const std::vector<NamedInstruction> instructions = named_instructions(part.family);
    for (size_t i = 0; i < instructions.size(); ++i) {
        const uint8_t code = instruction_code(part.family, instructions[i].instr);
        line("    \"" + std::string(instructions[i].name) + " (" + bits(code, 6) + ")" +
             (i + 1 < instructions.size() ? ",\" &" : "\";"));
    }
    line("");
    line("attribute INSTRUCTION_CAPTURE of " + layout.entity + " : entity is \"XXXX01\";");
    line("");
    line("attribute INSTRUCTION_PRIVATE of " + layout.entity + " : entity is");
    line("    \"USER1, USER2, USER3, USER4, CFG_OUT, CFG_IN, JPROGRAM, JSTART, JSHUTDOWN\";");
    line("");
    // Revision first, then the part number split as in the usual layout.
    const std::string idcode = bits(part.idcode & 0x0FFFFFFF, 28);
    line("attribute IDCODE_REGISTER of " + layout.entity + " : entity is");
    line("    \"XXXX\" &  -- version");
    line("    \"" + idcode.substr(0, 16) + "\" &  -- part number");
    line("    \"" + idcode.substr(16, 11) + "\" &  -- manufacturer");
    line("    \"" + idcode.substr(27, 1) + "\";  -- required by IEEE 1149.1");
    line("");
    line("attribute USERCODE_REGISTER of " + layout.entity + " : entity is");
    line("    \"XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX\";");
    line("");
    line("attribute REGISTER_ACCESS of " + layout.entity + " : entity is");
    line("    \"BYPASS (BYPASS, HIGHZ), BOUNDARY (SAMPLE, PRELOAD, EXTEST)\";");
    line("");
    line("attribute BOUNDARY_LENGTH of " + layout.entity + " : entity is " +
         std::to_string(layout.length) + ";");
    line("");
    line("attribute BOUNDARY_REGISTER of " + layout.entity + " : entity is");
    line("--  cellnum (type, port, function, safe[, ccell, disval, disrslt])");
    std::vector<std::string> cells(static_cast<size_t>(layout.length));
    for (int i = 0; i < layout.length; ++i) {
        cells[static_cast<size_t>(i)] = std::to_string(i) + " (BC_2, *, internal, X)";
    }
    for (const BoundaryPad& pad : layout.pads) {
        const int c = pad.control_cell;
        cells[static_cast<size_t>(c)] = std::to_string(c) + " (BC_2, *, controlr, 1)";
        cells[static_cast<size_t>(pad.output_cell)] = std::to_string(pad.output_cell) + " (BC_2, " +
                                                      pad.port + ", output3, X, " +
                                                      std::to_string(c) + ", 1, PULL0)";
        cells[static_cast<size_t>(pad.input_cell)] =
            std::to_string(pad.input_cell) + " (BC_2, " + pad.port + ", input, X)";
    }
    // Highest cell first, nearest TDI, as vendor files list them.
    for (int i = layout.length - 1; i >= 0; --i) {
        line("    \"" + cells[static_cast<size_t>(i)] + (i > 0 ? ",\" &" : "\";"));
    }
    line("");
    line("attribute DESIGN_WARNING of " + layout.entity + " : entity is");
    line("    \"This description is for the virtual board only: its pads and pins are \" &");
    line("    \"not those of the silicon part.\";");
    line("");
    line("end " + layout.entity + ";");
    return s;
}

}  // namespace vireo::sim
