// `vireo flash ...`: the SPI flash commands, their options, and the run that checks the input
// before the bridge replaces the FPGA's design and restarts the FPGA afterwards.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "app/session.h"
#include "cli/terminal_ui.h"

namespace vireo::cli {

struct FlashCommand {
    CLI::App* id = nullptr;
    CLI::App* uid = nullptr;
    CLI::App* program = nullptr;
    CLI::App* verify = nullptr;
    CLI::App* erase = nullptr;
    CLI::App* blank = nullptr;
    CLI::App* read = nullptr;
    CLI::App* dump = nullptr;
    std::string file;
    std::string offset = "0";
    std::string size;  // "": no --size
    bool no_trim = false, no_verify = false;
    bool force = false;       // read: replace FILE without asking
    bool other_part = false;  // program: a .bit / .bin made for another part
};

// Adds `flash` and its commands to cli; their options fill `command`.
CLI::App* add_flash_command(CLI::App& cli, FlashCommand& command);

// Runs the flash command the command line chose (its FILE's time stamp already shown); the
// operation's status.
int run_flash(app::Session& session, TerminalUi& ui, const FlashCommand& command);

}  // namespace vireo::cli
