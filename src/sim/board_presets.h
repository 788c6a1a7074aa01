// The boards and cables the virtual board can pose as: how each is reached over USB, what its
// JTAG chain holds and which SPI flash sits behind its FPGA.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vireo::sim {

enum class TransportKind {
    Fx3Board,       // USB 3.0 board on a Cypress FX3 running the maker's JTAG firmware
    Usb2Board,      // USB 2.0 board with its own name and version
    Usb2Cable,      // USB 2.0 JTAG cable, in one of two wire protocols
    Fx3BootLoader,  // an FX3 still in its boot loader; becomes another preset after a download
};

struct Transport {
    TransportKind kind;
    uint16_t vid = 0, pid = 0;  // FX3 board and boot loader
    bool superspeed = false;    // FX3 board enumerates at SuperSpeed (else high speed)
    std::string name;           // USB 2.0 board or cable name
    std::string version;        // USB 2.0 board version (its default firmware version)
    int protocol = 0;           // USB 2.0 cable protocol, 1 or 2
    std::string becomes;        // boot loader: the preset it turns into
};

// Name of the Zynq ARM DAP in a chain list; every other entry is a Xilinx part name.
inline constexpr std::string_view kArmDap = "ARM_DAP";

struct BoardPreset {
    std::string name;
    Transport transport;
    std::vector<std::string> chain;  // device 0 nearest TDI
    std::string flash;               // SPI flash part behind the FPGA
    uint64_t tck_hz = 0;
};

const std::vector<BoardPreset>& board_presets();
const BoardPreset* find_board_preset(std::string_view name);

}  // namespace vireo::sim
