// Full description of one part: instructions, IR capture, pins and boundary cells. Built by the
// device database from a bb record and by the BSDL reader from a text file; the requester owns
// it and releases it with devdesc_free.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class CellFunction : uint8_t {
    Input = 0,
    Clock = 1,
    Output2 = 2,
    Output3 = 3,
    Control = 4,
    Controlr = 5,
    Internal = 6,
    Bidir = 7,
    ObserveOnly = 8,
};

enum class DisableResult : uint8_t {
    Z = 0,
    Pull0 = 1,
    Pull1 = 2,
    Weak0 = 3,
    Weak1 = 4,
    Keeper = 5,
};

struct InstructionDef {
    std::string name;
    std::string opcode;  // IR-length characters '0', '1' or 'X', MSB first
    uint8_t flag = 0;    // carried from the file, read by nobody
};

struct PinMapEntry {
    std::string port;
    std::string pin;
    char disable_value = 'X';
    int32_t output_cell = -1;
    int32_t input_cell = -1;
    int32_t control_cell = -1;
};

struct BsrCell {
    uint8_t bc_type = 1;  // printed as "BC_%d"
    std::string port;
    CellFunction function = CellFunction::Internal;
    char safe_value = 'X';
    int16_t control_cell = -1;
    char disable_value = 'X';
    DisableResult disable_result = DisableResult::Z;
};

struct DeviceDescription {
    std::string name;
    std::string package;  // "unknown" or "undefined" when none is known
    uint32_t idcode = 0;
    uint32_t idcode_mask = 0;
    uint32_t usercode = 0;
    std::vector<std::string> design_warnings;
    std::vector<InstructionDef> instructions;
    uint8_t ir_length = 0;
    std::string ir_capture;  // one character per bit, MSB first
    std::vector<PinMapEntry> pins;
    std::vector<BsrCell> cells;  // cell 0 first; the count is the boundary register length
};

// Releases a description made by std::make_unique(...).release(); null is allowed.
inline void devdesc_free(DeviceDescription* description) {
    std::unique_ptr<DeviceDescription> owned(description);
}
