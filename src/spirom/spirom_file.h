// Flash images from files: raw binary (.bit and anything else), Intel HEX / MCS and S-record,
// the read-back file, and the header of .bit files that the flash must not hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads path into buffer (size bytes, filled with 0xFF first) and reports the image length.
// 1 read, 0 a raw file that cannot be opened (the log says why). A HEX / MCS or S-record file
// gives 1 with whatever its reader placed (the reader reports what it rejected); a raw file
// longer than size gives its first size bytes and 1, with a log line saying it did not fit.
int spirom_load_file(const char* path, uint8_t* buffer, int64_t size, int64_t* length);
// A flash image as a file gives it: bytes from the image's start, and which of them the file holds
// (1 in `held`). A raw file holds its bytes from 0 on; a HEX or S-record file the bytes its data
// records wrote, at their own addresses, and nothing in the gaps between them.
struct SpiRomImage {
    std::vector<uint8_t> bytes;  // 0xFF where the file holds nothing
    std::vector<uint8_t> held;
    int64_t end = 0;  // one past the last byte the file holds
};

enum class SpiRomLoad {
    Ok,
    Unreadable,  // `problem` says why (not found, a directory, a FIFO, permission ...)
    Empty,       // an empty file, or a HEX / S-record file without data records
    Incomplete,  // a HEX / S-record file without its end record
    Faulty,      // a HEX / S-record file the reader rejects
    TooLarge,    // data at or beyond `size`
};

// Reads path into an image of `size` bytes. Trims the header of a .bit file when `trim` is set.
// `quiet` leaves out the log lines that say what a HEX / S-record file holds.
SpiRomLoad spirom_load_image(const char* path, int64_t size, bool trim, SpiRomImage* image,
                             std::string* problem, bool quiet = false);

// Writes count bytes to path: Intel HEX for .mcs / .hex, raw bytes otherwise (S-record names
// included). The data goes to a temporary file beside path that replaces path only when it was
// written completely, so a failure leaves an existing file as it was and no partial file.
// 1 written, 0 the file could not be created or written.
int spirom_save_file(const char* path, const uint8_t* data, int64_t count);
// Where the bytes of a damaged flash range [start, end] are saved: vireo-flash-<start>-<end>.bin
// (8 hexadecimal digits each) beside the image when that folder is writable, else in the current
// folder; never an existing file ("-2", "-3" ... are added), so an earlier rescue stays.
std::string spirom_rescue_path(const char* image_path, uint32_t start, uint32_t end);
// A rescue file of [start, end] still lying beside the image or in the current folder (its
// bytes are not back in the flash yet), "" when none or when the image is that file.
std::string spirom_pending_rescue(const char* image_path, uint32_t start, uint32_t end);
// A file name as one shell word: as it is when it needs no quoting, else in single quotes.
std::string spirom_shell_word(const std::string& text);

// Moves the data down to the first sixteen 0xFF dummy bytes followed by the sync word
// AA 99 55 66, shortening length; without such a run nothing changes.
void spirom_trim_bit_header(uint8_t* data, int64_t* length);

// True when the name ends in ext (".bit", ...), letter case ignored.
bool spirom_has_extension(const char* path, const char* ext);
