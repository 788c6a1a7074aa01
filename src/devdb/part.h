// What the device database says about one part: the summary a device keeps for its scans.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DeviceDescription;

// One instruction of a part, its opcode text converted by the value and mask rules.
struct PartInstruction {
    std::string name;
    uint32_t value = 0;
    uint32_t mask = 0;
};

struct PartRecord {
    std::string name;
    std::string package;
    uint32_t idcode = 0;
    uint32_t idcode_mask = 0;
    int ir_length = 0;
    int bsr_len = 0;  // boundary register length (number of boundary cells)
    uint32_t ir_capture_value = 0;
    uint32_t ir_capture_mask = 0;
    // The full description the record was built from; owned, released with devdesc_free as soon
    // as the device has taken the part.
    DeviceDescription* description = nullptr;
    std::vector<PartInstruction> instructions;  // the table and its count

    int instruction_count() const { return static_cast<int>(instructions.size()); }
};
