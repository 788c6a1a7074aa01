#include "cli/board_commands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>

#include "cables/usb_libusb.h"
#include "cables/usb_virtual.h"
#include "cli/terminal_ui.h"
#include "jtag/msg.h"

namespace vireo::cli {
namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitCancelled = 130;
constexpr size_t kColumns = 5;
constexpr const char* kNoBoard = "No board or cable was found.";

// A device's own text made safe for a column: control bytes escaped, runs of blanks as one (two
// spaces separate columns), "-" when nothing is left.
std::string cell(const std::string& text) {
    std::string out;
    for (const char c : shown_text(text)) {
        const bool blank = c == ' ';
        if (blank && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out.empty() ? "-" : out;
}

std::array<std::string, kColumns> cells(const BoardEntry& b) {
    std::string ids = "-";
    if (b.vid || b.pid) {
        char text[16];
        std::snprintf(text, sizeof text, "%04x:%04x", b.vid, b.pid);
        ids = text;
    }
    return {cell(b.place), ids, cell(b.kind), cell(b.serial), cell(b.product)};
}

std::vector<std::string> aligned(const std::vector<std::array<std::string, kColumns>>& rows) {
    std::array<size_t, kColumns> width{};
    for (const auto& row : rows)
        for (size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], row[c].size());
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < kColumns; ++c) {
            line += row[c];
            if (c + 1 < kColumns) line += std::string(width[c] - row[c].size() + 2, ' ');
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// The boards present; when there are none, says so (and why the buses could not be read).
std::vector<BoardEntry> present_boards() {
    std::vector<BoardEntry> boards;
    const int rc = usb_list_present_boards(&boards);
    if (boards.empty()) {
        std::cout << kNoBoard << "\n" << std::flush;
        if (rc != 0)
            std::cerr << "The USB buses could not be read: " << usb::error_name(rc) << "\n";
    }
    return boards;
}

}  // namespace

std::vector<std::string> board_table(const std::vector<BoardEntry>& boards) {
    std::vector<std::array<std::string, kColumns>> rows{
        {"PLACE", "VID:PID", "KIND", "SERIAL", "PRODUCT"}};
    for (const BoardEntry& b : boards) rows.push_back(cells(b));
    return aligned(rows);
}

int list_boards() {
    const std::vector<BoardEntry> boards = present_boards();
    if (boards.empty()) return kExitSuccess;
    for (const std::string& line : board_table(boards)) std::cout << line << "\n";
    std::cout << std::flush;
    return kExitSuccess;
}

int detect_all(vireo::app::Session& session) {
    const std::vector<BoardEntry> boards = present_boards();
    if (boards.empty()) return kExitFailure;
    bool every = true;
    for (const BoardEntry& board : boards) {
        if (TerminalUi::interrupted()) break;
        std::cout << "\nBoard " << aligned({cells(board)}).front() << "\n" << std::flush;
        usb::Choice choice;
        if (!board.is_virtual) {
            choice.by = usb::Choice::By::Place;
            if (!usb::parse_place(board.place, &choice.place, nullptr)) {
                std::cout << "Its place cannot be chosen; skipped.\n" << std::flush;
                every = false;
                continue;
            }
        }
        usb::choose_device(choice);
        if (session.detect() != vireo::app::ConnectResult::Connected) every = false;
        session.disconnect();
    }
    usb::choose_device({});
    if (TerminalUi::interrupted()) return kExitCancelled;
    return every ? kExitSuccess : kExitFailure;
}

}  // namespace vireo::cli
