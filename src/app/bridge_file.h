// The SPI bridge bitstream a flash command loads into the FPGA, found and checked before the
// FPGA is touched. A real FPGA takes a bridge built for it with the vendor's tools
// (hdl/bridge/build.tcl), from the user's data folder or else the programs' folder; the virtual
// board takes the stand-in made for it by the build, from the programs' folder's virtual-board/.
// A stand-in (its header's design says Synthetic=VirtualBoardOnly) is never sent to a real FPGA:
// it holds no design, so the FPGA would lose its own for nothing.
#pragma once

#include <string>
#include <vector>

#include "app/paths.h"

namespace vireo::app {

// Where the virtual board's stand-ins lie, below the programs' folder.
inline constexpr char kVirtualBridgeFolder[] = "virtual-board/";

struct BridgeFile {
    std::string path;                  // the file to load; "" when none can serve
    std::string design;                // the design string of its header
    std::vector<std::string> refusal;  // when none can serve: why, and how to build one
};

// `file_name` is the module's bridge name ("spi_xc7a100t.bit"), `device` the part's name as the
// log shows it. Texts hold file names through shown_text.
BridgeFile find_bridge_file(const AppPaths& paths, const std::string& file_name,
                            const std::string& device, bool virtual_board);

}  // namespace vireo::app
