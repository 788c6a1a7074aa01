// Checks of an FX3 .img firmware file before any of it goes to a boot loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Fx3Section {
    uint32_t address = 0;
    std::vector<uint8_t> data;  // whole 32-bit words
};

struct Fx3Image {
    std::vector<Fx3Section> sections;
    uint32_t entry = 0;
    bool stand_in = false;  // carries the virtual board's stand-in marker
};

// Largest image a boot loader takes: the FX3's 512 KB of system RAM.
constexpr size_t kFx3MaxImageBytes = 512 * 1024;
// Where a boot loader can place sections: system RAM and the 16 KB I-TCM.
constexpr uint32_t kFx3RamBase = 0x40000000, kFx3RamSize = 0x80000;
constexpr uint32_t kFx3ItcmBase = 0x00000000, kFx3ItcmSize = 0x4000;
// The text our virtual board's firmware stand-in carries, so that it never reaches a real board.
// The virtual board writes the same text (it shares no code with the programmer; a test checks
// that both agree).
constexpr std::string_view kFx3StandInText =
    "VIREOJTAG VIRTUAL BOARD FX3 STAND-IN - NOT FIRMWARE FOR REAL HARDWARE";

// Parses and checks the whole image: "CY" signature, executable image of type 0xB0, sections of
// whole words at word-aligned addresses inside system RAM or the I-TCM, the terminating record
// with an entry point inside them, the payload checksum, nothing after it. Returns "" with
// *image filled, or the reason the image is refused.
std::string fx3_image_parse(const uint8_t* data, size_t size, Fx3Image* image);
// The same for real hardware: also refuses the virtual board's stand-in.
std::string fx3_image_check(const uint8_t* data, size_t size, Fx3Image* image);
