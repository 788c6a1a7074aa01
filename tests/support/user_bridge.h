// A bridge bitstream as a user's build of hdl/bridge/ stands for the tests: the virtual FPGA runs
// it (it carries the bridge signature), and its header does not say it is for the virtual board
// only, so the programs take it for a bridge built for a real FPGA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/bitgen.h"
#include "sim/xilinx_parts.h"

namespace vireo::test {

inline std::vector<uint8_t> user_built_bridge(const char* part,
                                              const std::string& design = "vireo_bridge_s7") {
    sim::BitgenOptions options;
    options.spi_bridge = true;
    std::vector<uint8_t> bit =
        sim::make_bit_file(*sim::find_xilinx_part(part), options, "2026/01/02", "03:04:05");
    // The 'a' field (design) follows the 13-byte preamble: tag, 16-bit length, text, NUL.
    const size_t old_length = size_t{bit[14]} << 8 | bit[15];
    std::vector<uint8_t> field = {'a', 0, static_cast<uint8_t>(design.size() + 1)};
    field.insert(field.end(), design.begin(), design.end());
    field.push_back(0);
    bit.erase(bit.begin() + 13, bit.begin() + 16 + static_cast<std::ptrdiff_t>(old_length));
    bit.insert(bit.begin() + 13, field.begin(), field.end());
    return bit;
}

}  // namespace vireo::test
