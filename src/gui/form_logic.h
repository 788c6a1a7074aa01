// The window's rules that need no widget: which tool buttons a state enables, which progress
// calls are worth a repaint, and how the offset field reads.
#pragma once

#include <cstdint>
#include <string>

namespace vireo::gui {

enum class FormState {
    Busy,              // a command or the XVC server runs: only Cancel
    IdleDisconnected,  // no supported device found: files and Connect
    IdleFpga,          // connected, FPGA target
    IdleSpiRom,        // connected, SPI ROM target
};

struct ToolButtons {
    bool file_open = false, connect = false;
    bool idcode = false, sig = false, dump = false;
    bool autob = false, write = false, verify = false, erase = false, blank = false, read = false;
    bool cancel = false;
    bool operator==(const ToolButtons&) const = default;
};

// AUTO on the FPGA target needs a file to load.
ToolButtons tool_buttons(FormState state, bool file_exists);

// Passes a progress call on only when it moves the bar by a pixel, starts or ends, so that a
// fast operation does not flood the window with repaints.
class ProgressFilter {
  public:
    bool pass(int position, int maximum, int bar_width);

  private:
    long long last_pixel_ = -1;
};

// The SPI ROM offset field: hexadecimal with or without 0x; 0 when it does not read as one.
// Values past 32 bits stay at 0xFFFFFFFF so that the flash refuses them instead of wrapping.
uint32_t parse_offset(const std::string& text);

}  // namespace vireo::gui
