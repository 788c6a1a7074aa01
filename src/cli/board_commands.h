// The commands that deal with several boards on one host: listing what is plugged in, and
// detecting on every board in turn.
#pragma once

#include <string>
#include <vector>

#include "app/session.h"
#include "cables/usb_boards.h"

namespace vireo::cli {

// One line per board, columns separated by at least two spaces, after a header line: place,
// vid:pid, kind, serial, product ("-" for what is unknown or empty).
std::vector<std::string> board_table(const std::vector<BoardEntry>& boards);

// `vireo --list`: the boards and cables present, or a line saying there are none. Exit status 0.
int list_boards();

// `vireo detect --all`: detect on every board listed, each chosen by its place, after a line that
// names it. 0 when every board was detected, 1 otherwise (none found too), 130 on Ctrl-C.
int detect_all(vireo::app::Session& session);

}  // namespace vireo::cli
