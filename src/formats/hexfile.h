// Intel HEX / MCS and Motorola S-record codecs for flash images: readers place data by absolute
// address into a caller's buffer first filled with a fill byte; the writer saves an image as
// Intel HEX.
#pragma once

#include <cstdint>
#include <vector>

// Longest line the readers interpret (characters before the line end).
constexpr int kHexLineLimit = 254;

// Status values besides 1 (done) and 12 (file cannot be opened).
constexpr int kHexFormatError = 13;      // short line, checksum error, malformed or over-long line
constexpr int kHexAddressOverflow = 16;  // a data byte lies beyond the buffer

// Lines longer than kHexLineLimit and records whose byte count runs past the line or that hold
// non-hexadecimal digits are format errors. The buffer is filled and every output set even when
// the file cannot be opened (12), as for an empty file.

// Intel HEX / MCS. Stops at the first fault: a checksum error (printed), a format error, or a data
// byte at or beyond size (16). length: highest address written + 1 (1 when none). info unused.
int hexfile_read(const char* path, uint8_t* buffer, int64_t size, uint8_t fill, int64_t* length,
                 char* info, int info_size);
// Motorola S-record. *base (optional, 0 when null) is subtracted from every address; a byte
// outside the buffer sets 16, a bad checksum or malformed record 13 (silently), and reading goes
// on. Outputs: *base the lowest data address (0xFFFFFFFF when none), *highest the highest,
// *start the address of the last S7/S8/S9 record (0 when none), info the S0 texts, each followed
// by a blank, cut to info_size.
int srecord_read(const char* path, uint8_t* buffer, int64_t size, uint8_t fill, int64_t* base,
                 int64_t* highest, int64_t* start, char* info, int info_size);
// What a reader saw besides the bytes, for callers that must know which addresses the file
// holds and whether it is complete: `written` (optional, resized to the buffer size) gets 1 at
// every byte a data record stored; the count of data records; whether the end record came
// (Intel HEX type 01, S-record S7 / S8 / S9).
struct HexRecordsSeen {
    std::vector<uint8_t>* written = nullptr;
    int64_t data_records = 0;
    bool end_record = false;
};
int hexfile_read_seen(const char* path, uint8_t* buffer, int64_t size, uint8_t fill,
                      int64_t* length, HexRecordsSeen* seen);
int srecord_read_seen(const char* path, uint8_t* buffer, int64_t size, uint8_t fill, int64_t* base,
                      int64_t* highest, int64_t* start, char* info, int info_size,
                      HexRecordsSeen* seen);

// Saves data as 16-byte records, each 64 KiB preceded by its extended linear address record; a
// count that is not a multiple of 16 ends in a shorter record, and the end-of-file record closes
// the file (readers, ours included, take a file without it for a cut one). 1, or 12 when the file
// cannot be created or written (count above 4 GiB included).
int hexfile_write(const char* path, const uint8_t* data, int64_t count);
