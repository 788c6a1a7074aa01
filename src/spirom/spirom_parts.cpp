#include "spirom/spirom_parts.h"

#include <iterator>

#include "jtag/lang.h"

namespace {

constexpr const char* kUnknown = tr_ja_noop("不明");

// clang-format off
constexpr SpiRomPart kAtmel[] = {
    {0x1F2200, "AT45DB011D", 264, 512, 9, 256, SPIROM_MAKER_ATMEL},
    {0x1F2300, "AT45DB021D", 264, 1024, 9, 256, SPIROM_MAKER_ATMEL},
    {0x1F2400, "AT45DB041D", 264, 2048, 9, 256, SPIROM_MAKER_ATMEL},
    {0x1F2500, "AT45DB081D", 264, 4096, 9, 256, SPIROM_MAKER_ATMEL},
    {0x1F2600, "AT45DB161D", 528, 4096, 10, 512, SPIROM_MAKER_ATMEL},
    {0x1F8700, "AT25DQ321", 256, 16384, 8, 256, SPIROM_MAKER_ATMEL},
};
constexpr SpiRomPart kAtmelOther = {0, kUnknown, 528, 4096, 10, 512, SPIROM_MAKER_ATMEL};

constexpr SpiRomPart kMicron[] = {
    {0x202012, "M25P20", 256, 1024, 8, 256, SPIROM_MAKER_M25P},
    {0x202013, "M25P40", 256, 2048, 8, 256, SPIROM_MAKER_M25P},
    {0x202014, "M25P80", 256, 4096, 8, 256, SPIROM_MAKER_M25P},
    {0x202015, "M25P16", 256, 8192, 8, 256, SPIROM_MAKER_M25P},
    {0x202016, "M25P32", 256, 16384, 8, 256, SPIROM_MAKER_M25P},
    {0x202017, "M25P64", 256, 32768, 8, 256, SPIROM_MAKER_M25P},
    {0x202018, "M25P128", 256, 65536, 8, 256, SPIROM_MAKER_M25P},
    {0x207116, "M25PX32", 256, 16384, 8, 256, SPIROM_MAKER_MICRON},
    {0x20BA16, "N25Q32", 256, 16384, 8, 256, SPIROM_MAKER_MICRON},
    {0x20BA17, "N25Q64", 256, 32768, 8, 256, SPIROM_MAKER_MICRON},
    {0x20BA18, "N25Q128", 256, 65536, 8, 256, SPIROM_MAKER_MICRON},
    {0x20BA19, "N25Q256", 256, 131072, 8, 256, SPIROM_MAKER_MICRON},
    {0x20BB18, "N25Q128A", 256, 65536, 8, 256, SPIROM_MAKER_MICRON},
};
constexpr SpiRomPart kMicronOther = {0, kUnknown, 256, 8192, 8, 256, SPIROM_MAKER_M25P};

constexpr SpiRomPart kSst[] = {
    {0xBF254A, "SST25VF032B", 512, 8192, 9, 512, SPIROM_MAKER_SST},
};
constexpr SpiRomPart kSstOther = {0, kUnknown, 256, 8192, 8, 256, SPIROM_MAKER_SST};

constexpr SpiRomPart kWinbond[] = {
    {0xEF4012, "W25Q20BW", 256, 1024, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF4013, "W25Q40BV", 256, 2048, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF4014, "W25Q80BV", 256, 4096, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF4015, "W25Q16BV", 256, 8192, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF4016, "W25Q32BV", 256, 16384, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF4017, "W25Q64BV", 256, 32768, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF4018, "W25Q128BV/JV", 256, 65536, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF6016, "W25Q32FV", 256, 16384, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF6017, "W25Q64FV", 256, 32768, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF6018, "W25Q128FV/FW", 256, 65536, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF6019, "W25Q256FV", 256, 131072, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF7018, "W25Q128JV", 256, 65536, 8, 256, SPIROM_MAKER_WINBOND},
    {0xEF7019, "W25Q256JV", 256, 131072, 8, 256, SPIROM_MAKER_WINBOND},
};
// A Winbond part the table does not name keeps the identification's defaults: one page of one
// byte and no maker code, so no operation assumes a size the part may not have. Its binary page
// is that same byte (a busy status at identification must not make the page size 0).
constexpr SpiRomPart kWinbondOther = {0, kUnknown, 1, 1, 0, 1, SPIROM_MAKER_UNKNOWN};

constexpr SpiRomPart kNoPart = {0, kUnknown, 1, 1, 0, 0, SPIROM_MAKER_UNKNOWN};
// clang-format on

template <size_t N>
const SpiRomPart& lookup(const SpiRomPart (&rows)[N], uint32_t id, uint32_t mask,
                         const SpiRomPart& other) {
    for (const SpiRomPart& row : rows) {
        if ((row.jedec & mask) == (id & mask)) return row;
    }
    return other;
}

}  // namespace

const SpiRomPart& spirom_find_part(uint32_t jedec) {
    switch (jedec >> 16) {
        case 0x1F:
            return lookup(kAtmel, jedec, 0xFFFF00, kAtmelOther);
        case 0x20:
            return lookup(kMicron, jedec, 0xFFFFFF, kMicronOther);
        case 0xBF:
            return lookup(kSst, jedec, 0xFFFFFF, kSstOther);
        case 0xEF:
            return lookup(kWinbond, jedec, 0xFFFFFF, kWinbondOther);
        default:
            return kNoPart;
    }
}

bool spirom_is_dataflash(uint32_t jedec) {
    return (jedec >> 16) == 0x1F && jedec != kAt25dq321;
}
