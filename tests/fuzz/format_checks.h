// Runs the file format readers the way the fuzz targets and the fuzz regression tests feed them,
// and checks what each reader promises on every return. A check returns "" when the outputs are
// sound, otherwise what was wrong.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/bitfile.h"
#include "formats/hexfile.h"

namespace vireo::fuzz {

// Small on purpose: inputs reach the end of the buffer, and the cut of the info text, easily.
constexpr int kImageSize = 4096;
constexpr int kInfoSize = 48;
constexpr uint8_t kFill = 0xA5;
// S-record addresses are read relative to this base, so bytes below it are out of the buffer.
constexpr int64_t kSrecordBase = 0x1000;

inline bool terminated(const std::vector<char>& text) {
    return std::find(text.begin(), text.end(), '\0') != text.end();
}

inline std::string status_text(int status) {
    return "unexpected status " + std::to_string(status);
}

inline std::string check_bitfile(const char* path) {
    std::vector<uint8_t> buffer(kImageSize);
    std::vector<char> info(kInfoSize, '#');
    int length = -1;
    const int status =
        bitfile_read(path, buffer.data(), kImageSize, kFill, &length, info.data(), kInfoSize);
    if (status != 1 && status != kBitfileFormatError) return status_text(status);
    if (length < 0 || length > kImageSize) return "image length " + std::to_string(length);
    if (std::any_of(buffer.begin() + length, buffer.end(), [](uint8_t b) { return b != kFill; }))
        return "a byte past the image is not the fill";
    if (!terminated(info)) return "info text not terminated";
    return "";
}

inline std::string check_hexfile(const char* path) {
    std::vector<uint8_t> buffer(kImageSize);
    int64_t length = -1;
    const int status = hexfile_read(path, buffer.data(), kImageSize, kFill, &length, nullptr, 0);
    if (status != 1 && status != kHexFormatError && status != kHexAddressOverflow)
        return status_text(status);
    if (length < 1 || length > kImageSize) return "length " + std::to_string(length);
    return "";
}

inline std::string check_srecord(const char* path) {
    std::vector<uint8_t> buffer(kImageSize);
    std::vector<char> info(kInfoSize, '#');
    int64_t base = kSrecordBase, highest = -1, start = -1;
    const int status = srecord_read(path, buffer.data(), kImageSize, kFill, &base, &highest, &start,
                                    info.data(), kInfoSize);
    if (status != 1 && status != kHexFormatError && status != kHexAddressOverflow)
        return status_text(status);
    // Data of a record may run up to 250 bytes past the 32-bit address of its first byte.
    constexpr int64_t kTop = int64_t{0xFFFFFFFF} + 250;
    const bool no_data = base == 0xFFFFFFFF && highest == 0;
    if (!no_data && (base < 0 || base > highest || highest > kTop))
        return "data addresses " + std::to_string(base) + ".." + std::to_string(highest);
    if (start < 0 || start > 0xFFFFFFFF) return "start address " + std::to_string(start);
    if (!terminated(info)) return "info text not terminated";
    return "";
}

}  // namespace vireo::fuzz
