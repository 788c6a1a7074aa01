// Flash images from files: raw binary (.bit and anything else), Intel HEX / MCS and S-record,
// the read-back file, and the header of .bit files that the flash must not hold.
#pragma once

#include <cstdint>

// Reads path into buffer (size bytes, filled with 0xFF first) and reports the image length.
// 1 read; 12 the file cannot be opened; 13 a HEX / MCS or S-record file the reader rejects;
// 16 the file holds more than size bytes (or data at or beyond size).
int spirom_load_file(const char* path, uint8_t* buffer, int64_t size, int64_t* length);
// Writes count bytes to path: Intel HEX for .mcs / .hex, raw bytes otherwise (S-record names
// included). 1 written, 0 the file could not be created or written.
int spirom_save_file(const char* path, const uint8_t* data, int64_t count);
// Moves the data down to the first sixteen 0xFF dummy bytes followed by the sync word
// AA 99 55 66, shortening length; without such a run nothing changes.
void spirom_trim_bit_header(uint8_t* data, int64_t* length);

// True when the name ends in ext (".bit", ...), letter case ignored.
bool spirom_has_extension(const char* path, const char* ext);
