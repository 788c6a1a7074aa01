// Checks of an FX3 .img firmware file before any of it goes to a boot loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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

// Parses and checks the whole image: "CY" signature, executable image of type 0xB0, sections of
// whole words at word-aligned addresses inside system RAM or the I-TCM, the terminating record
// with an entry point inside them, the payload checksum, nothing after it. Returns "" with
// *image filled, or the reason the image is refused.
std::string fx3_image_parse(const uint8_t* data, size_t size, Fx3Image* image);
// The same for real hardware: also refuses the virtual board's stand-in.
std::string fx3_image_check(const uint8_t* data, size_t size, Fx3Image* image);
