#include "cli/pins_command.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "app/pins_view.h"
#include "jtag/status.h"

namespace vireo::cli {
namespace {

constexpr auto kWatchPeriod = std::chrono::milliseconds(250);

std::string pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// The rows as aligned text lines, a header first.
std::vector<std::string> table_lines(const std::vector<app::PinRow>& rows, bool show_changes) {
    size_t w_pin = 3, w_port = 4, w_type = 4, w_cells = 11;
    for (const app::PinRow& r : rows) {
        w_pin = std::max(w_pin, r.pin.size());
        w_port = std::max(w_port, r.port.size());
        w_type = std::max(w_type, r.type.size());
        w_cells = std::max(w_cells, r.cells.size());
    }
    auto line = [&](const std::string& pin, const std::string& port, const std::string& type,
                    const std::string& cells, const std::string& state,
                    const std::string& changes) {
        std::string text = pad(pin, w_pin) + "  " + pad(port, w_port) + "  " + pad(type, w_type) +
                           "  " + pad(cells, w_cells) + "  ";
        text += show_changes ? pad(state, 10) + "  " + changes : state;
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    };
    std::vector<std::string> lines;
    lines.push_back(line("PIN", "PORT", "TYPE", "OUT/IN/CTL", "STATE", "CHANGES"));
    for (const app::PinRow& r : rows) {
        lines.push_back(line(r.pin, r.port, r.type, r.cells, r.state,
                             r.changes ? std::to_string(r.changes) : ""));
    }
    return lines;
}

int terminal_rows() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
    return 24;
}

// One screen of the live view: pins that moved first, cut to the terminal's height.
void draw_watch(const app::PinsView& view) {
    std::vector<app::PinRow> rows = view.rows();
    // Pins without boundary cells (supply, JTAG) never change: the live view leaves them out.
    std::erase_if(rows, [](const app::PinRow& r) { return r.cells == "-"; });
    std::stable_sort(rows.begin(), rows.end(), [](const app::PinRow& a, const app::PinRow& b) {
        return a.changes > b.changes;
    });
    std::vector<std::string> lines = table_lines(rows, true);
    const int notes = view.file_errors() > 0 ? 1 : 0;
    const size_t room = static_cast<size_t>(std::max(terminal_rows() - 4 - notes, 3));
    const size_t hidden = lines.size() > room ? lines.size() - room : 0;
    lines.resize(lines.size() - hidden);
    std::string screen = "\x1b[H\x1b[J";
    screen += view.summary() + (view.extest_active() ? ", EXTEST" : ", SAMPLE") +
              " - pins that change come first; Ctrl-C stops\n";
    if (view.file_errors() > 0) {
        screen += "The BSDL file had " + std::to_string(view.file_errors()) +
                  " error(s): rows may be missing or wrong\n";
    }
    screen += "\n";
    for (const std::string& l : lines) screen += l + "\n";
    if (hidden) screen += "... " + std::to_string(hidden) + " more pins\n";
    std::fwrite(screen.data(), 1, screen.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

std::string pins_refusal(const PinsOptions& options) {
    if (options.watch && !isatty(STDOUT_FILENO)) {
        return "--watch redraws the table in place and needs a terminal; without --watch the "
               "table is printed once";
    }
    if (options.extest && !options.yes && !isatty(STDIN_FILENO)) {
        return "--extest takes the pins away from the running design: confirm it on a terminal "
               "or give --yes";
    }
    return "";
}

int run_pins(app::Session& session, TerminalUi& ui, const PinsOptions& options) {
    std::vector<app::PinSetting> settings;
    for (const std::string& text : options.settings) {
        app::PinSetting setting;
        app::parse_pin_setting(text, &setting);
        settings.push_back(setting);
    }
    app::PinsView view(session);
    // Every setting, and the file itself for EXTEST, is checked before any scan of the
    // description's and before the question.
    int status = view.read(options.bsdl);
    if (status == JTAG_OK) status = view.check_settings(settings, options.extest);
    if (status == JTAG_OK) status = view.measure();
    if (status == JTAG_OK) status = view.sample();
    if (status != JTAG_OK) return status;
    const int errors = view.file_errors();
    const std::string errors_line =
        errors == 0
            ? ""
            : "The BSDL file had " + std::to_string(errors) + (errors == 1 ? " error" : " errors") +
                  " (see the log): rows may be missing or wrong, and --extest is "
                  "refused for it.\n";
    if (options.extest) {
        const std::string question =
            "EXTEST takes every pin of " + view.summary() +
            " away from the running design until the next JTAG instruction. Continue?";
        if (!ui.ask_yes_no("EXTEST", question)) return JTAG_CANCELLED;
        status = view.extest(settings);
        if (status != JTAG_OK) return status;
    }
    if (!options.watch) {
        std::cout << view.summary() << (view.extest_active() ? ", EXTEST\n" : ", SAMPLE\n")
                  << errors_line;
        for (const std::string& line : table_lines(view.rows(), false)) std::cout << line << "\n";
        if (view.extest_active()) {
            std::cout << "The device stays in EXTEST and keeps driving; any other JTAG command "
                         "(vireo pins without --extest) gives the pins back to the design.\n";
        }
        std::cout << std::flush;
        return JTAG_OK;
    }
    while (!TerminalUi::interrupted()) {
        draw_watch(view);
        std::this_thread::sleep_for(kWatchPeriod);
        if (TerminalUi::interrupted()) break;
        status = view.refresh();
        if (status != JTAG_OK) return status;
    }
    return JTAG_OK;
}

}  // namespace vireo::cli
