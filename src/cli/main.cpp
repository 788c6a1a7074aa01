// vireo: the command-line programmer.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "app/file_watch.h"
#include "app/host.h"
#include "app/paths.h"
#include "app/session.h"
#include "cli/terminal_ui.h"
#include "jtag/status.h"
#include "sim/virtual_board.h"

namespace {

using vireo::app::Session;
using vireo::cli::TerminalUi;

int exit_code(int status) {
    if (status == JTAG_OK) return 0;
    if (status == JTAG_CANCELLED) return 130;
    return 1;
}

// Waits until the design file carries a newer time stamp; Ctrl-C gives up.
bool wait_for_update(const std::string& path) {
    vireo::app::FileUpdateWatch watch(path);
    std::cout << "Waiting for file updated.\n\"" << path << "\"\n";
    if (auto stamp = vireo::app::file_timestamp_text(path)) {
        std::cout << "Current timestamp is " << *stamp << "\n";
    }
    std::cout << "(Ctrl-C to give up)\n" << std::flush;
    while (!TerminalUi::interrupted()) {
        if (watch.updated()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void show_timestamp(const std::string& path) {
    if (auto stamp = vireo::app::file_timestamp_text(path)) {
        std::cout << "Timestamp " << *stamp << "  " << path << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{
        "vireo - JTAG programmer for Xilinx Spartan-6 and 7-series FPGAs on the maker's USB 2.0\n"
        "cables and boards and FX3 USB 3.0 boards.\n"};
    cli.require_subcommand(1);
    std::string sim;
    bool yes = false;
    cli.add_option("--sim", sim,
                   "Use the virtual board PRESET[,option=value...] instead of USB hardware "
                   "(kb2201, kb2203, zynq, ...; same syntax as VIREO_SIM)")
        ->type_name("PRESET");
    cli.add_flag("-y,--yes", yes, "Answer yes to every question (e.g. the FX3 firmware offer)");

    auto* detect = cli.add_subcommand("detect", "Find the cable, scan the chain, name the FPGA");
    auto* idcode = cli.add_subcommand("idcode", "Read the FPGA's IDCODE and check it");
    auto* dna = cli.add_subcommand("dna", "Read the FPGA's device DNA");
    auto* program = cli.add_subcommand("program", "Configure the FPGA from a .bit file (SRAM)");
    std::string bitfile;
    bool wait = false;
    program->add_option("FILE.bit", bitfile, "Bitstream to load")->required();
    program->add_flag("-w,--wait", wait,
                      "Wait until the file is rewritten (e.g. by a synthesis run), then program");
    cli.footer(
        "Examples:\n"
        "  vireo detect\n"
        "  vireo program top.bit\n"
        "  vireo program --wait build/top.bit\n"
        "  vireo --sim kb2203 program examples/example_xc7a100t.bit\n"
        "\nExit status: 0 on success, 130 when cancelled (Ctrl-C), 1 on any other failure.");
    CLI11_PARSE(cli, argc, argv);

    if (!sim.empty()) {
        setenv("VIREO_SIM", sim.c_str(), 1);
        std::string error;
        if (!vireo::sim::reset_virtual_board(sim, &error) && !error.empty()) {
            std::cerr << error << "\n";
            return 2;
        }
    }

    TerminalUi ui(yes);
    const vireo::app::AppPaths paths = vireo::app::find_app_paths(argv[0]);
    vireo::app::install_host(&ui, paths);
    Session session(ui, paths);
    ui.on_interrupt([&session] { session.cancel(); });
    TerminalUi::catch_interrupt();

    int status = JTAG_OK;
    if (*detect) {
        status = session.reconnect() == vireo::app::ConnectResult::Connected ? JTAG_OK
                                                                             : JTAG_NO_DEVICE;
        session.disconnect();
    } else if (*idcode) {
        status = session.idcode_check();
    } else if (*dna) {
        status = session.device_dna();
    } else if (*program) {
        show_timestamp(bitfile);
        status = session.program_fpga(bitfile, wait ? wait_for_update : nullptr);
    }
    return exit_code(status);
}
