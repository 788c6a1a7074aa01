// `vireo pins`: the pin table of a device through boundary scan, once or live on a terminal, and
// pins driven through EXTEST after confirmation.
#pragma once

#include <string>
#include <vector>

#include "app/session.h"
#include "cli/terminal_ui.h"

namespace vireo::cli {

struct PinsOptions {
    std::string bsdl;
    std::vector<std::string> settings;  // PIN=0|1|z, already checked
    bool watch = false;
    bool extest = false;
    bool yes = false;
};

// Why the options cannot run here (--watch or an unconfirmed --extest without a terminal); ""
// when they can.
std::string pins_refusal(const PinsOptions& options);

// Runs the command; the result is an operation status (JTAG_OK on success, JTAG_CANCELLED when
// the EXTEST was declined).
int run_pins(app::Session& session, TerminalUi& ui, const PinsOptions& options);

}  // namespace vireo::cli
