// The design file is checked before the FPGA is touched: a file the configuration modules would
// refuse must not cost the user the design that runs now (Shutdown clears it first).
#pragma once

#include <string>
#include <vector>

namespace vireo::app {

struct DesignFileCheck {
    bool ok = false;
    // A refusal in the words the configuration modules use for it ("Not bitstream file.",
    // "Bit file format error"), followed by a line that names the cause.
    std::vector<std::string> messages;
};

// True when the file NAME (not the folders above it) ends in ".bit", in any letter case.
bool has_bit_extension(const std::string& path);

// A .bit file name, and a regular file that can be opened for reading.
DesignFileCheck check_design_file(const std::string& path);

}  // namespace vireo::app
