// The flash operations on an open context: program a file from an offset, verify against a
// file, erase the chip, blank check, read back into a file, dump to the log. Results are
// JtagStatus values: 1 done; 0 no context or a flash that did not finish an erase or a page in
// its data-sheet time; 12 no file or an unreadable one; 13 a HEX / S-record file with errors;
// 15 verify difference or not blank; 16 an image beyond the flash or a bad offset; 17 a flash
// of no known command group; 21 the cable is gone; 24 cancelled through the running flag.
#pragma once

#include <cstdint>

#include "spirom/spirom.h"

// Erases only the sectors the image touches and keeps every byte outside the image's range.
// A sector that was erased but could not be written back (the cable lost mid-sector) is saved
// to a file the log names, with the command that restores it.
int spirom_program(SpiRomContext* context, const char* path, uint32_t offset);
// What program and verify check of their file and offset, made before any flash is known (so
// before the board is touched): the file holds an image (a complete HEX / S-record file), the
// offset starts a page of every flash and the image fits the largest flash from it. 1, or the
// status program would return, with its log line.
int spirom_check_image(const char* path, uint32_t offset, bool trim);
int spirom_verify(SpiRomContext* context, const char* path, uint32_t offset);
int spirom_erase(SpiRomContext* context);
int spirom_blank_check(SpiRomContext* context);
// Reads `count` bytes from offset (count < 0: to the end of the flash); the offset need not start
// a page. An existing file is replaced only when the host answers yes.
int spirom_read_back(SpiRomContext* context, const char* path, uint32_t offset, int64_t count = -1);
// `count` bytes from address to the log; count < 0: the 256 bytes from address.
int spirom_dump(SpiRomContext* context, uint32_t address, int64_t count = -1);
// Erases the bytes [offset, offset + count): the sectors that hold them are erased and their
// bytes outside the range written back (a cut is reported as program reports it), then the range
// is read back blank. A range past the end of the flash is refused before anything is erased.
int spirom_erase_range(SpiRomContext* context, uint32_t offset, int64_t count);
// What a range command checks before any flash is known (so before the board is touched): the
// range lies within the largest flash. count < 0: from offset to the end. 1, or 16 logged.
int spirom_check_range(uint32_t offset, int64_t count);
