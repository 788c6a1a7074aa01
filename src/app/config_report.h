// What an FPGA's configuration state words say, line by line: DONE and INIT from the
// instruction capture, the status register and the boot status decoded bit by bit for the
// part's family, the USERCODE, and a closing verdict. Pure text work; the reading is the
// configuration module's (devalg_read_config_status).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devalg/config_status.h"

namespace vireo::app {

struct ConfigReport {
    bool configured = false;            // DONE is high
    std::vector<std::string> problems;  // "CRC error", "ID error", ... in register order
    std::vector<std::string> lines;     // the report, the verdict last
};

ConfigReport explain_config_status(const ConfigStatus& status,
                                   std::optional<uint32_t> usercode = std::nullopt);

}  // namespace vireo::app
