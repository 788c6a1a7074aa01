#include "cli/xvc_command.h"

#include <chrono>
#include <ctime>
#include <iostream>
#include <thread>

#include "app/host.h"
#include "cli/terminal_ui.h"
#include "xvc/xvc_access.h"

namespace vireo::cli {
namespace {

// A status line of the server, dated as every log line is.
void print_status(const std::string& line) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::cout << app::log_line(text, std::time(nullptr)) << '\n' << std::flush;
}

}  // namespace

CLI::App* add_xvc_command(CLI::App& cli, xvc::XvcOptions& options) {
    auto* xvc = cli.add_subcommand(
        "xvc",
        "Lend the FX3 board's JTAG port to network tools (Xilinx Virtual Cable 1.0 server) "
        "until Ctrl-C");
    xvc->add_option("--port", options.port, "TCP port to listen on (0: any free port)")
        ->type_name("N")
        ->capture_default_str();
    xvc->add_option("--listen", options.address,
                    "IPv4 address to listen on; 127.0.0.1 keeps the server on this machine")
        ->type_name("ADDR")
        ->check(
            [](const std::string& text) -> std::string {
                return xvc::xvc_is_ipv4(text) ? "" : "not an IPv4 address: '" + text + "'";
            },
            "IPv4")
        ->capture_default_str();
    xvc->add_option("--allow", options.allow,
                    "Let in only clients from this address or network (repeatable); every other "
                    "peer is closed before the board is opened")
        ->type_name("ADDR[/PREFIX]")
        ->check(
            [](const std::string& text) {
                xvc::XvcNet net;
                return xvc::xvc_parse_net(text, &net);
            },
            "NET");
    xvc->add_option_function<unsigned>(
           "--idle-timeout",
           [&options](unsigned seconds) { options.idle_timeout = std::chrono::seconds(seconds); },
           "Disconnect a client silent between commands for this long, so the board is free "
           "again (0: never)")
        ->type_name("SECONDS")
        ->default_str("600");
    return xvc;
}

int serve_xvc(const xvc::XvcOptions& options) {
    xvc::TXvc server(options, print_status);
    TerminalUi::catch_interrupt();
    if (!server.start()) return 1;
    while (server.running() && !TerminalUi::interrupted()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const bool interrupted = TerminalUi::interrupted();
    server.stop();
    return interrupted ? 0 : 1;
}

}  // namespace vireo::cli
