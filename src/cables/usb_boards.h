// The boards and cables a front end can offer the user to choose from: one record for each that is
// plugged in, with where it sits and what it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BoardEntry {
    std::string place;          // "BUS:PORT" ("1:2", "3:1.4"), or "virtual"
    uint16_t vid = 0, pid = 0;  // both 0 when the board has no USB ids (a virtual USB 2.0 board)
    std::string kind;           // "FX3 board", "FX3 boot loader" or "USB 2.0 cable/board"
    std::string serial;         // empty when it has none or could not be read
    std::string product;        // the product string; a virtual board's preset name
    bool is_virtual = false;
};

// The kind word of a device with these ids; empty for ids of none of ours.
std::string usb_kind_of(uint16_t vid, uint16_t pid);

// The FX3 boards, FX3 boot loaders and USB 2.0 cables and boards on the USB buses, by place,
// read without claiming any. 0, or the negative libusb error code that kept the buses from being
// read (the list is then empty).
int usb_list_boards(std::vector<BoardEntry>* boards);
