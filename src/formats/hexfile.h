// Intel HEX / MCS and Motorola S-record codecs for flash images: readers place data by absolute
// address into a caller's buffer first filled with a fill byte; the writer saves an image as
// Intel HEX.
#pragma once

#include <cstdint>

// Longest line the readers interpret (characters before the line end).
constexpr int kHexLineLimit = 254;

// Status values besides 1 (done) and 12 (file cannot be opened).
constexpr int kHexFormatError = 13;     // short line, checksum error, malformed or over-long line
constexpr int kHexAddressOverflow = 16;  // a data byte lies beyond the buffer

int hexfile_read(const char* path, uint8_t* buffer, int64_t size, uint8_t fill, int64_t* length,
                 char* info, int info_size);
int srecord_read(const char* path, uint8_t* buffer, int64_t size, uint8_t fill, int64_t* base,
                 int64_t* highest, int64_t* start, char* info, int info_size);
int hexfile_write(const char* path, const uint8_t* data, int64_t count);
