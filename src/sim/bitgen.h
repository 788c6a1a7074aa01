// Synthetic configuration images for the virtual board: valid packet streams with zero frame
// data, built the way the vendor tools lay out their images, so that the virtual FPGA (and real
// readers of .bit files) accept them. They are never a design for a real FPGA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/xilinx_parts.h"

namespace vireo::sim {

// The SPI-bridge signature. Bridge images write it into a configuration register that has no
// effect on the loaded logic; the virtual FPGA reports a design that carries it as a bridge.
//   7-series:  AXSS (register 0x0D, user access word) = kBridgeSignatureSeries7
//   Spartan-6: GENERAL5 (register 0x17, user word)     = kBridgeSignatureSpartan6
inline constexpr unsigned kSignatureRegSeries7 = 0x0D;
inline constexpr unsigned kSignatureRegSpartan6 = 0x17;
inline constexpr uint32_t kBridgeSignatureSeries7 = 0x56425350;  // "VBSP"
inline constexpr uint32_t kBridgeSignatureSpartan6 = 0x5642;     // "VB"

struct BitgenOptions {
    std::string design_name = "vireo_synthetic";
    bool spi_bridge = false;          // write the bridge signature
    uint32_t usercode = 0xFFFFFFFF;   // shown in the header's design string
    bool bad_crc = false;             // first CRC check carries a wrong value
    bool wrong_idcode = false;        // the IDCODE packet names another die
    bool no_idcode = false;           // no IDCODE packet: frame data come unchecked
    bool no_sync = false;             // the sync word is missing
    bool compress = false;            // repeated frames as MFW / MFWR (7-series only)
    size_t truncate_bytes = 0;        // drop this many bytes from the end of the image
    bool bad_status = false;          // no LFRM and no START: interconnect never released
    bool jtag_startup_clock = false;  // startup sequencer clocked by TCK after JSTART
};

// The configuration image, bytes as they follow the 'e' field of a .bit file.
std::vector<uint8_t> make_config_image(const XilinxPart& part, const BitgenOptions& opt);

// A complete .bit file: header (design string, part + package, date, time) and image.
std::vector<uint8_t> make_bit_file(const XilinxPart& part, const BitgenOptions& opt,
                                   const std::string& date, const std::string& time);

// The design string of the header: "<name>;UserID=0x<usercode>;Synthetic=VirtualBoardOnly".
std::string bit_design_string(const BitgenOptions& opt);

}  // namespace vireo::sim
