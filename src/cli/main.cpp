// vireo: the command-line programmer.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "app/file_watch.h"
#include "app/host.h"
#include "app/paths.h"
#include "app/pins_view.h"
#include "app/session.h"
#include "cables/usb_libusb.h"
#include "cables/usb_virtual.h"
#include "cli/board_commands.h"
#include "cli/flash_command.h"
#include "cli/flash_range.h"
#include "cli/json_output.h"
#include "cli/pins_command.h"
#include "cli/terminal_ui.h"
#include "cli/verbosity.h"
#include "cli/xvc_command.h"
#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "sim/board_presets.h"
#include "sim/virtual_board.h"
#include "spirom/spirom_file.h"
#include "vireo_version.h"
#include "xvc/xvc_client.h"

namespace {

using vireo::app::ConnectResult;
using vireo::app::Session;
using vireo::cli::TerminalUi;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

constexpr const char* kExitCodes =
    "Exit status:\n"
    "  0    success: the FPGA configured and verified, the status read, the FX3 firmware\n"
    "       written (replug the board), the flash programmed and verified\n"
    "  1    failure: the log and the status report say why\n"
    "  2    usage error: unknown command or option, bad value, bad --sim / VIREO_SIM,\n"
    "       --usb / --serial with a virtual board\n"
    "  130  cancelled (Ctrl-C)\n";

constexpr int kMaxDeviceIndex = 255;

// CLI11 prints the error (or the help); help is a success, anything else a usage error.
int usage_error(const CLI::App& cli, const CLI::ParseError& e) {
    return cli.exit(e) == 0 ? kExitSuccess : kExitUsage;
}

int exit_code(int status, ConnectResult connect) {
    if (connect == ConnectResult::FirmwareLoaded) return kExitSuccess;
    if (status == JTAG_OK) return kExitSuccess;
    if (status == JTAG_CANCELLED) return kExitCancelled;
    return kExitFailure;
}

// Waits until the design file carries a newer time stamp and has stopped changing; Ctrl-C
// gives up.
bool wait_for_update(const std::string& path) {
    vireo::app::FileUpdateWatch watch(path);
    std::cout << "Waiting for file updated.\n\"" << shown_text(path) << "\"\n";
    if (auto stamp = vireo::app::file_timestamp_text(path)) {
        std::cout << "Current timestamp is " << *stamp << "\n";
    }
    std::cout << "(Ctrl-C to give up)\n" << std::flush;
    while (!TerminalUi::interrupted()) {
        if (watch.ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void show_timestamp(TerminalUi& ui, const std::string& path) {
    if (auto stamp = vireo::app::file_timestamp_text(path)) {
        ui.note("Timestamp " + *stamp + "  " + shown_text(path));
    }
}

// The diagnostics modules write to standard output go through the terminal's rules.
TerminalUi* g_diagnostic_ui = nullptr;

// --json: the run's one document. A run that ends before it wrote its own (a usage error) gets
// one from main with what is known.
struct JsonState {
    bool on = false;
    bool written = false;
    std::string command;
    std::string error;
};
JsonState g_json;
// The full log of --log; main() checks after the run that every line reached it.
vireo::cli::LogFile g_log;

void write_json(vireo::cli::JsonRun run) {
    if (run.command.empty()) run.command = g_json.command;
    if (run.error.empty()) run.error = g_json.error;
    const std::string text = vireo::cli::json_document(run);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    g_json.written = true;
}

const char* connect_name(ConnectResult result) {
    switch (result) {
        case ConnectResult::Connected:
            return "connected";
        case ConnectResult::NoBoard:
            return "no_board";
        case ConnectResult::NoDevice:
            return "no_device";
        case ConnectResult::IllegalDevice:
            return "illegal_device";
        case ConnectResult::FirmwareDeclined:
            return "firmware_declined";
        case ConnectResult::FirmwareLoaded:
            return "firmware_loaded";
        case ConnectResult::FirmwareFailed:
            return "firmware_failed";
        case ConnectResult::CableLost:
            return "cable_lost";
    }
    return "";
}

int run(int argc, char** argv);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) g_json.on = g_json.on || std::string_view(argv[i]) == "--json";
    const int code = run(argc, argv);
    if (g_json.on && !g_json.written && code != kExitSuccess) {
        vireo::cli::JsonRun failed;
        failed.exit_code = code;
        failed.status = -1;
        write_json(failed);
    }
    // Output that did not reach its file fails a run that would have succeeded: a script would
    // keep a result (a DNA, a dump) that is not there.
    const bool output_lost = vireo::cli::standard_output_lost();
    if (output_lost) std::cerr << "vireo: the standard output could not be written\n";
    if (g_log.lost())
        std::cerr << "vireo: the log " << shown_text(g_log.path()) << " could not be written\n";
    return code == kExitSuccess && (output_lost || g_log.lost()) ? kExitFailure : code;
}

namespace {

int run(int argc, char** argv) {
    // A reader that goes away (vireo ... | head -1) must not end a configuration half-way:
    // failed writes to the terminal are ignored, the work goes on.
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App cli{
        "vireo - JTAG programmer for Xilinx Spartan-6 and 7-series FPGAs on the maker's USB 2.0\n"
        "cables and boards and FX3 USB 3.0 boards.\n"};
    cli.set_version_flag("--version", std::string("vireo ") + VIREO_VERSION + " (source revision " +
                                          VIREO_REVISION + ")");
    cli.require_subcommand(0, 1);  // checked below, so that an unknown command is named
    cli.fallthrough();             // the global options may also follow the command
    std::string sim;
    bool yes = false;
    int device = vireo::app::kDefaultDevice;
    std::string presets;
    for (const vireo::sim::BoardPreset& preset : vireo::sim::board_presets())
        presets += (presets.empty() ? "" : ", ") + preset.name;
    auto* sim_option =
        cli.add_option("--sim", sim,
                       "Use the virtual board PRESET[,option=value...] instead of USB hardware "
                       "(PRESET: " +
                           presets + "; same syntax as VIREO_SIM)")
            ->type_name("PRESET");
    std::string usb_place, serial;
    bool list = false;
    auto* usb_option =
        cli.add_option("--usb", usb_place,
                       "Use the board or cable at this place on the USB bus (as --list shows it: "
                       "bus, then the dotted hub ports, e.g. 1:2 or 3:1.4) and no other")
            ->type_name("BUS:PORT")
            ->check(CLI::Validator(
                [](const std::string& text) {
                    std::string reason;
                    return usb::parse_place(text, nullptr, &reason) ? std::string() : reason;
                },
                ""));
    auto* serial_option =
        cli.add_option("--serial", serial,
                       "Use the board or cable with this USB serial number (as --list shows it) "
                       "and no other")
            ->type_name("S")
            ->check(CLI::Validator(
                [](const std::string& text) {
                    return text.empty() ? std::string("empty; give a serial number --list shows")
                                        : std::string();
                },
                ""));
    std::string xvc_remote;
    uint32_t tck_hz = 0;
    auto* xvc_remote_option =
        cli.add_option("--xvc", xvc_remote,
                       "Use the board behind the XVC 1.0 server at HOST[:PORT] (port 2542 when "
                       "none is given; [IPV6]:PORT) for the command")
            ->type_name("HOST[:PORT]")
            ->check(CLI::Validator(
                [](const std::string& text) {
                    std::string host;
                    uint16_t port = 0;
                    return vireo::xvc::xvc_parse_endpoint(text, &host, &port);
                },
                ""));
    cli.add_option("--tck", tck_hz, "With --xvc: ask the server for this TCK frequency")
        ->type_name("HZ")
        ->check(CLI::Range(1u, 1'000'000'000u))
        ->needs(xvc_remote_option);
    usb_option->excludes(serial_option);
    sim_option->excludes(usb_option)->excludes(serial_option);
    xvc_remote_option->excludes(sim_option)->excludes(usb_option)->excludes(serial_option);
    cli.add_flag("--list", list,
                 "List the boards and cables present (place, vid:pid, kind, serial, product) and "
                 "exit");
    cli.add_flag("-y,--yes", yes, "Answer yes to every question (e.g. the FX3 firmware offer)");
    std::string lang;
    cli.add_option("--lang", lang,
                   "Language of the messages: ja (Japanese) or en (English); without it the "
                   "locale's: the first of LC_ALL, LC_MESSAGES, LANG that is set, Japanese when "
                   "it starts with \"ja\", English otherwise")
        ->type_name("ja|en")
        ->check(CLI::IsMember({"ja", "en"}));
    cli.add_option("-d,--device", device,
                   "Address device N of the chain (0 = nearest TDI), of any chain length, when "
                   "it is a Spartan-6 or 7-series FPGA; without it: device 0 of a chain of one "
                   "or two, a supported board's FPGA")
        ->type_name("N")
        ->check(CLI::Range(0, kMaxDeviceIndex));
    bool verbose = false, quiet = false;
    auto* verbose_flag = cli.add_flag(
        "-v,--verbose", verbose,
        "Show every log line: dated, each flash page and sector, the modules' diagnostics");
    cli.add_flag("-q,--quiet", quiet,
                 "Show only the verdict, and errors with the lines that say why")
        ->excludes(verbose_flag);
    std::string log_path;
    cli.add_option("--log", log_path,
                   "Append the full log (every line, dated) to FILE, whatever the terminal shows")
        ->type_name("FILE");
    bool json = false;
    cli.add_flag("--json", json,
                 "Write one JSON document on standard output (the log goes to standard error); "
                 "for detect, idcode, dna, status, --list, flash id, uid, verify, blank");

    auto* detect = cli.add_subcommand(
        "detect", "Find the cable, scan the chain, list every device and name the FPGA");
    bool detect_every = false;
    detect->add_flag("--all", detect_every,
                     "Detect on every board and cable --list shows, one after the other");
    auto* idcode = cli.add_subcommand("idcode", "Read the FPGA's IDCODE and check it");
    auto* dna = cli.add_subcommand("dna", "Read the FPGA's device DNA");
    auto* status_command =
        cli.add_subcommand("status",
                           "Read and explain the FPGA's configuration state (DONE, INIT, status "
                           "registers, USERCODE) without changing it");
    auto* program = cli.add_subcommand("program", "Configure the FPGA from a .bit file (SRAM)");
    std::string bitfile;
    bool wait = false;
    program->add_option("FILE.bit", bitfile, "Bitstream to load")->required();
    bool program_other_part = false;
    program->add_flag("--force", program_other_part,
                      "Send a .bit made for another part than the device (its header or the "
                      "IDCODE its stream writes says so) anyway");
    program->add_flag("-w,--wait", wait,
                      "Wait until the file is rewritten (e.g. by a synthesis run) and has "
                      "stopped changing, then program");
    vireo::cli::FlashCommand flash_command;
    auto* flash = vireo::cli::add_flash_command(cli, flash_command);
    vireo::xvc::XvcOptions xvc_options;
    auto* xvc = vireo::cli::add_xvc_command(cli, xvc_options);
    auto* bsdl = cli.add_subcommand(
        "bsdl", "Read a BSDL file and show what it describes (format errors by line)");
    std::string bsdl_file;
    bsdl->add_option("FILE.bsd", bsdl_file, "BSDL file")->required();
    auto* pins = cli.add_subcommand(
        "pins",
        "Show every pin of the device through boundary scan (SAMPLE, the design undisturbed); "
        "--extest drives the pins given with --set");
    vireo::cli::PinsOptions pins_options;
    pins->add_option("--bsdl", pins_options.bsdl, "BSDL file of the device")
        ->type_name("FILE.bsd")
        ->required();
    pins->add_flag("--watch", pins_options.watch,
                   "Refresh the table live on the terminal, pins that change first, until Ctrl-C");
    auto* pins_extest = pins->add_flag(
        "--extest", pins_options.extest,
        "Drive through EXTEST: takes every pin away from the running design (asks first)");
    pins->add_option("--set", pins_options.settings,
                     "Pin to drive: port or pin name (or @pin) = 0, 1 or z; needs --extest")
        ->type_name("PIN=0|1|z")
        ->check(CLI::Validator(
            [](std::string& text) { return vireo::app::parse_pin_setting(text, nullptr); },
            "PIN=0|1|z"))
        ->needs(pins_extest);
    cli.footer(std::string("Examples:\n"
                           "  vireo detect\n"
                           "  vireo --list\n"
                           "  vireo --usb 3:1.4 program top.bit\n"
                           "  vireo --serial 0001A2 detect\n"
                           "  vireo detect --all\n"
                           "  vireo program top.bit\n"
                           "  vireo program --wait build/top.bit\n"
                           "  vireo status\n"
                           "  vireo --sim kb2203 program examples/example_xc7a100t.bit\n"
                           "  vireo --sim zynq --device 1 program design_7z020.bit\n"
                           "  vireo --sim kb2203 xvc --listen 127.0.0.1\n"
                           "  vireo flash program top.bit\n"
                           "  vireo flash read --offset 400000 --force tail.bin\n"
                           "  vireo flash read --offset 0x10000 --size 100 head.bin\n"
                           "  vireo flash erase --offset 3F0000 --size 10000\n"
                           "  vireo --sim kb2203 pins --bsdl bsdl/xc7a100t_csg324.bsd --watch\n"
                           "  vireo pins --bsdl top.bsd --extest --set LED0=1 --set @A5=z\n\n") +
               kExitCodes);
    try {
        cli.parse(argc, argv);
        if (list && !cli.get_subcommands().empty()) {
            throw CLI::ValidationError("--list", "takes no command");
        }
        if (cli.get_subcommands().empty() && !list) {
            throw CLI::RequiredError(
                "A command (detect, idcode, dna, status, program, flash, xvc, bsdl, pins)");
        }
    } catch (const CLI::ExtrasError& e) {
        // Without a command the first extra word is the command the user meant.
        const std::vector<std::string> extras = cli.remaining();
        if (!cli.get_subcommands().empty() || extras.empty() || extras[0].starts_with('-')) {
            g_json.error = e.what();
            return usage_error(cli, e);
        }
        g_json.error = "Unknown command '" + extras[0] + "'";
        std::cerr << "Unknown command '" << extras[0] << "'\n"
                  << "Run with --help for more information.\n";
        return kExitUsage;
    } catch (const CLI::ParseError& e) {
        g_json.error = e.what();
        return usage_error(cli, e);
    }
    Language language = language_from_environment();
    parse_language(lang, &language);  // --lang before the locale
    set_language(language);
    // The commands whose results a JSON document carries.
    for (CLI::App* command = &cli; !command->get_subcommands().empty();) {
        command = command->get_subcommands().front();
        g_json.command += (g_json.command.empty() ? "" : " ") + command->get_name();
    }
    if (list) g_json.command = "list";
    static const std::vector<std::string> kJsonCommands = {
        "detect",   "idcode",    "dna",          "status",     "list",
        "flash id", "flash uid", "flash verify", "flash blank"};
    if (json && (std::find(kJsonCommands.begin(), kJsonCommands.end(), g_json.command) ==
                     kJsonCommands.end() ||
                 detect_every)) {
        g_json.error =
            "--json: for detect (without --all), idcode, dna, status, --list, flash "
            "id, flash uid, flash verify and flash blank only";
        std::cerr << g_json.error << "\n";
        return kExitUsage;
    }
    // The full log is opened before anything else happens: a log that cannot be written stops
    // the run before the board is touched.
    vireo::cli::LogFile& log_file = g_log;
    if (!log_path.empty() && *flash_command.read) {
        // One file cannot be both: the read would replace the log, or the log the image.
        const auto where = [](const std::string& path) {
            std::error_code ignored;
            return std::filesystem::weakly_canonical(std::filesystem::absolute(path, ignored),
                                                     ignored)
                .lexically_normal();
        };
        if (where(log_path) == where(flash_command.file)) {
            g_json.error = "--log " + shown_text(log_path) + " is the file the read writes";
            std::cerr << g_json.error << "\n";
            return kExitUsage;
        }
    }
    if (!log_path.empty()) {
        std::string reason;
        if (!log_file.open(log_path, &reason)) {
            g_json.error = "--log: cannot write '" + shown_text(log_path) + "': " + reason;
            std::cerr << g_json.error << "\n";
            return kExitUsage;
        }
    }
    // The reader alone: no board, messages as they are, without log time stamps.
    if (*bsdl) {
        set_print_callback([](const char* format, va_list args) {
            const std::string text = shown_text(format_text(format, args), true);
            std::fwrite(text.data(), 1, text.size(), stdout);
            return static_cast<int>(text.size());
        });
        return vireo::app::dump_bsdl_file(bsdl_file) ? kExitSuccess : kExitFailure;
    }
    if (*flash) {
        const std::string refusal =
            vireo::cli::flash_range_refusal(flash_command.offset, flash_command.size);
        if (!refusal.empty()) {
            std::cerr << "flash: " << refusal << "\n";
            return kExitUsage;
        }
    }
    pins_options.yes = yes;
    if (*pins) {
        const std::string refusal = vireo::cli::pins_refusal(pins_options);
        if (!refusal.empty()) {
            std::cerr << "pins: " << refusal << "\n";
            return kExitUsage;
        }
    }
    const bool usb_chosen = usb_option->count() > 0 || serial_option->count() > 0;
    const char* usb_chooser = usb_option->count() > 0 ? "--usb" : "--serial";
    if (usb_chosen && std::getenv("VIREO_SIM")) {
        std::cerr << usb_chooser << ": chooses a USB board, but VIREO_SIM chooses a virtual one; "
                  << "unset VIREO_SIM\n";
        return kExitUsage;
    }
    if (!xvc_remote.empty()) {
        const char* clash = std::getenv("VIREO_SIM") ? "VIREO_SIM chooses a virtual board; unset it"
                            : list         ? "--list shows this host's boards; leave --xvc out"
                            : detect_every ? "detect --all runs on this host's boards"
                            : *xvc         ? "the xvc command serves this host's board"
                                           : nullptr;
        if (clash) {
            std::cerr << "--xvc: " << clash << "\n";
            return kExitUsage;
        }
    }
    if (usb_chosen && detect_every) {
        std::cerr << "detect --all: runs on every board; leave " << usb_chooser << " out\n";
        return kExitUsage;
    }
    std::shared_ptr<vireo::sim::VirtualBoard> board;
    std::string sim_error;
    bool unavailable = false;
    if (!usb_choose_virtual_board(sim_option->count() > 0 ? &sim : nullptr,
                                  std::getenv("VIREO_SIM"), &board, &sim_error, &unavailable, [] {
                                      std::cerr
                                          << "Waiting for the board (in use by another vireo)\n";
                                  })) {
        std::cerr << sim_error << "\n";
        g_json.error = sim_error;
        // A board that exists but could not be had is no usage error.
        return unavailable ? kExitFailure : kExitUsage;
    }
    // The board chosen for this run is the only one every later open sees.
    if (usb_option->count() > 0) {
        usb::Choice choice;
        choice.by = usb::Choice::By::Place;
        usb::parse_place(usb_place, &choice.place, nullptr);  // checked when parsed
        usb::choose_device(choice);
    } else if (serial_option->count() > 0) {
        usb::Choice choice;
        choice.by = usb::Choice::By::Serial;
        choice.serial = serial;
        usb::choose_device(choice);
    }
    // Every run on a virtual board ends by saving it: a save that fails is the run's failure
    // (the flash and the design of this run are gone), a cancel stays a cancel.
    auto finish = [&board, &sim_error](int code) {
        if (board && !board->save_state(&sim_error)) {
            std::cerr << sim_error << "\n";
            return code == kExitSuccess ? kExitFailure : code;
        }
        return code;
    };
    if (list && json) {
        vireo::cli::JsonRun listed;
        const int rc = usb_list_present_boards(&listed.boards);
        // A bus that could not be read is a failure only when it leaves nothing to list.
        listed.exit_code = finish(listed.boards.empty() && rc != 0 ? kExitFailure : kExitSuccess);
        if (listed.exit_code != kExitSuccess)
            listed.error = std::string("The USB buses could not be read: ") + usb::error_name(rc);
        write_json(listed);
        return listed.exit_code;
    }
    if (list) return finish(vireo::cli::list_boards());
    // The server opens the FX3 board itself for each client; nothing else may hold it meanwhile.
    // Its clients may have programmed the flash.
    if (*xvc) {
        if (board) {
            std::lock_guard lock(board->mutex());
            board->follow_host_clock();
        }
        return finish(vireo::cli::serve_xvc(xvc_options));
    }

    const vireo::cli::Verbosity verbosity = verbose ? vireo::cli::Verbosity::Verbose
                                            : quiet ? vireo::cli::Verbosity::Quiet
                                                    : vireo::cli::Verbosity::Normal;
    TerminalUi ui(yes, verbosity, log_file.is_open() ? &log_file : nullptr, json);
    const vireo::app::AppPaths paths = vireo::app::find_app_paths(argv[0]);
    vireo::app::install_host(&ui, paths);
    // What the log tells the user to run (a flash restore) must reach this same board, without
    // the faults this run injected into the virtual board (unplug=, tdo=).
    std::string board_options, sim_board;
    for (size_t at = 0; at < sim.size();) {
        const size_t end = std::min(sim.find(',', at), sim.size());
        const std::string item = sim.substr(at, end - at);
        if (!item.starts_with("unplug=") && !item.starts_with("tdo="))
            sim_board += (sim_board.empty() ? "" : ",") + item;
        at = end + 1;
    }
    for (const auto& [name, value] :
         {std::pair{"--sim", sim_board},
          {"--usb", usb_place},
          {"--serial", serial},
          {"--xvc", xvc_remote},
          {"--device", device == vireo::app::kDefaultDevice ? "" : std::to_string(device)}})
        if (!value.empty()) board_options += name + (" " + spirom_shell_word(value)) + " ";
    vireo::app::set_board_options(board_options);
    g_diagnostic_ui = &ui;
    set_diagnostic_callback([](const std::string& text) { g_diagnostic_ui->diagnostic(text); });
    Session session(ui, paths);
    session.select_device(device);
    if (!xvc_remote.empty()) {
        cable_register_driver(vireo::xvc::kXvcClientDriver, vireo::xvc::xvc_client_driver);
        session.use_cable(vireo::xvc::kXvcClientDriver,
                          vireo::xvc::xvc_client_param(xvc_remote, tck_hz));
    }
    ui.on_interrupt([&session] { session.cancel(); });
    TerminalUi::catch_interrupt();

    int status = JTAG_OK;
    if (*detect && detect_every) {
        const int code = finish(vireo::cli::detect_all(session));
        ui.finish(code);
        return code;
    } else if (*detect) {
        status = session.detect() == ConnectResult::Connected ? JTAG_OK : JTAG_NO_DEVICE;
        session.disconnect();
    } else if (*idcode) {
        status = session.idcode_check();
    } else if (*dna) {
        status = session.device_dna();
    } else if (*status_command) {
        status = session.config_status();
    } else if (*program) {
        show_timestamp(ui, bitfile);
        session.allow_other_part(program_other_part);
        status = session.program_fpga(bitfile, wait ? wait_for_update : nullptr);
    } else if (*pins) {
        status = vireo::cli::run_pins(session, ui, pins_options);
    } else if (*flash) {
        if (!flash_command.file.empty()) show_timestamp(ui, flash_command.file);
        status = vireo::cli::run_flash(session, ui, flash_command);
    }
    session.disconnect();
    const int code = finish(exit_code(status, session.last_connect()));
    ui.finish(code);
    if (json) {
        vireo::cli::JsonRun done;
        done.exit_code = code;
        done.status = status;
        if (status == JTAG_NO_DEVICE || status == JTAG_DISCONNECTED)
            done.connect = connect_name(session.last_connect());
        done.lines = ui.recent_lines();
        done.facts = &session.facts();
        done.remote = xvc_remote;
        done.file = flash_command.file;
        done.offset = vireo::cli::parse_hex_number(flash_command.offset);
        if (xvc_remote.empty()) {
            std::vector<BoardEntry> boards;
            usb_list_present_boards(&boards);
            done.board_known = vireo::cli::used_board(boards, session.facts().cable, usb_place,
                                                      serial, &done.board);
        }
        write_json(done);
    }
    return code;
}

}  // namespace
