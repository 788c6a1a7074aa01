// Byte ranges of the flash: a range given as an address and a byte count, resolved against the
// identified part (or, before the board is touched, against the largest part), and the sector
// rewrite that program and the range erase share.
#pragma once

#include <cstdint>

#include "spirom/spirom_file.h"
#include "spirom/spirom_io.h"

namespace spirom_io {

// Bytes of the flash array, counted as a read runs through it: page p, byte b is p*page_size + b
// (on AT45 parts with 528-byte pages the address of that byte is (p << 10) + b).
struct ByteRange {
    int64_t begin = 0, end = 0;
};

// The bytes [offset, offset + count) name on the flash; count < 0: from offset to the end. An
// offset that is no byte of the flash (past its end, in the gap behind an AT45 page) or a range
// that runs past the end is logged, with what the flash holds, and gives 16.
int resolve_range(const Geometry& geometry, uint32_t offset, int64_t count, ByteRange* range);
// One log line that says how large the flash is and which addresses it answers to.
void log_flash_extent(const Geometry& geometry);

// Where the sector rewrite reports its progress: page `first` is 0 of `count` pages; with
// `each_sector` also after every sector (an erase writes back few pages or none).
struct SectorProgress {
    int first = 0;
    int count = 0;
    bool each_sector = false;
};

// Brings the erase units that hold any byte of `image` (held bytes, placed from page `first` on)
// to the image's bytes, keeping every other byte of those units: each unit's kept bytes are read,
// the unit erased and written back. A unit whose rescue file is still pending stops it before
// anything is erased; a unit erased and not written back (a cut) is saved to a rescue file beside
// `rescue_beside` (or in the current folder) with the command that restores it. Cancel is seen
// between units only. 1, or the failing step's status.
int rewrite_sectors(FlashIo& io, const SpiRomImage& image, int first, const char* rescue_beside,
                    SectorProgress progress);

}  // namespace spirom_io
