// The connector both USB drivers describe through options 11 (drawing) and 14 (pins): the same
// 13 pins and the same drawing on the maker's cables and boards.
#pragma once

namespace cable_connector {

struct Pin {
    const char* name;
    int kind;
};

// Pins by index; P0..P3 are user pins, driven through the pin register (bits 0-3 level,
// bits 4-7 enable).
extern const Pin kPins[13];
constexpr int kPinCount = 13;
constexpr int kFirstUserPin = 7;  // P0
constexpr int kVccPin = 11;
constexpr int kVrefPin = 12;

// The connector drawing, tab-separated lines ended by a null pointer.
extern const char* const kDrawing[18];

}  // namespace cable_connector
