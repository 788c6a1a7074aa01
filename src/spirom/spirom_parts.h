// The SPI flash parts the programmer knows, by JEDEC identification.
#pragma once

#include <cstdint>

enum SpiRomMaker : int {
    SPIROM_MAKER_UNKNOWN = 0,
    SPIROM_MAKER_ATMEL = 1,
    SPIROM_MAKER_M25P = 2,
    SPIROM_MAKER_SST = 3,
    SPIROM_MAKER_WINBOND = 4,
    SPIROM_MAKER_MICRON = 5,
};

struct SpiRomPart {
    uint32_t jedec;  // full identification; Atmel rows ignore the low byte
    const char* name;
    int page_size;
    int page_count;
    int address_shift;
    int binary_page;  // page size when the status byte has bit 0 set
    int maker;
};

// The row for an identification: the exact part, else its manufacturer's "不明" defaults (Atmel,
// ST/Micron, SST), else the unknown row (page size 1, one page, no maker code; a Winbond part
// the table does not name included).
const SpiRomPart& spirom_find_part(uint32_t jedec);

// The AT25DQ321 identification: an Atmel part that takes the 25-series commands.
constexpr uint32_t kAt25dq321 = 0x1F8700;
// True for the Atmel DataFlash parts (page-buffer commands), false for every other part.
bool spirom_is_dataflash(uint32_t jedec);
