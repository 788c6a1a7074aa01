// Reader of FPGA configuration files in the .bit format: a tagged header (design, part, date,
// time) and the configuration image, delivered bit-reversed so that it can be shifted into the
// configuration port least significant bit first.
#pragma once

#include <cstdint>

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
