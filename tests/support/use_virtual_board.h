// What the front ends do for --sim, in one call for tests and benchmarks: builds the board from
// `text` (the VIREO_SIM syntax) and puts it behind both USB layers. An empty text, or one that
// names no board, leaves no board (libusb): then null, with the reason in *error for a bad text.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "cables/usb_virtual.h"
#include "sim/virtual_board.h"

namespace vireo::test {

inline std::shared_ptr<sim::VirtualBoard> use_virtual_board(std::string_view text,
                                                            std::string* error = nullptr) {
    if (error) error->clear();
    std::shared_ptr<sim::VirtualBoard> board =
        text.empty() ? nullptr : sim::make_virtual_board(text, error);
    usb_use_virtual_board(board);
    return board;
}

}  // namespace vireo::test
