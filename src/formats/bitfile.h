// Reader of FPGA configuration files in the .bit format: a tagged header (design, part, date,
// time) and the configuration image, delivered bit-reversed so that it can be shifted into the
// configuration port least significant bit first.
#pragma once

#include <cstdint>
#include <string>

// Status only this reader returns: a header or image check failed.
constexpr int kBitfileFormatError = 13;

// Fills buffer[0..size) with fill, reads the file and delivers its image bit-reversed.
// length (optional) receives the image bytes delivered (0 when the image was not read whole);
// info receives "Design name:%s Part:%s %s %s" cut to info_size. Returns 1 when every check
// passed, 12 when the file cannot be opened (nothing printed), 13 when any check failed (one
// message per failed check, in file order). A header field longer than size is not read. Bytes
// past the delivered image always hold fill, and length and info are set on every return.
int bitfile_read(const char* path, uint8_t* buffer, int size, uint8_t fill, int* length, char* info,
                 int info_size);

// What a .bit file holds, read without a message: its header's part name and design name, the
// image length the header declares and the bytes the file holds after the header.
struct BitfileSummary {
    std::string design, part;
    uint64_t header = 0;    // bytes before the image
    uint64_t declared = 0;  // image bytes the header declares
    uint64_t present = 0;   // of those, the bytes the file holds (nothing past them is read)
    bool sync = false;      // the declared image holds the sync word AA 99 55 66
};

// Why path is not a whole .bit file ("" when it is): a header that does not parse, no image, an
// image shorter than the header declares ("truncated: the header declares N bytes, the file holds
// M"), an image without a sync word. Only the declared image is read: what follows it is never
// sent either. `summary` (optional) gets what was read.
std::string bitfile_problem(const char* path, BitfileSummary* summary = nullptr);
