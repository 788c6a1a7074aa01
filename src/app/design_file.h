// The design file is checked before the FPGA is touched: a file the configuration modules would
// refuse must not cost the user the design that runs now (Shutdown clears it first).
#pragma once

#include <cstdint>
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

// A .bit file name, a regular file that can be opened for reading, and a whole bitstream: its
// header parses, the image length it declares is in the file, the image holds the sync word.
DesignFileCheck check_design_file(const std::string& path);

// Why a configuration file is not for the device, "" when it is or when the file does not say:
// the part its .bit header names must start with the device's part name, and the IDCODE its
// configuration stream writes (the check the FPGA itself makes, revision ignored) must be the
// device's. Such a file would not configure the device, from JTAG or from the flash.
std::string design_part_refusal(const std::string& path, const std::string& device_name,
                                uint32_t device_idcode);

// The IDCODE a configuration stream (bytes as in the file) writes, 0 when it writes none: the
// 7-series type-1 write 30018001, the Spartan-6 one 31C2, after the sync word.
uint32_t stream_idcode(const uint8_t* data, size_t size);

}  // namespace vireo::app
