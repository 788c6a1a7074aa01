#include <algorithm>

#include "sim/spi_flash.h"

namespace vireo::sim {
namespace {

constexpr uint32_t kKB = 1024, kMB = 1024 * 1024;
constexpr uint64_t kUs = 1'000, kMs = 1'000'000, kS = 1'000'000'000;

// Typical times from the data sheets. Where a part's sheet gives no figure the family's is
// used; chip erase of the smaller M25P/N25Q parts scales with size from the 128-Mbit figure.
FlashPart winbond(std::string_view name, std::vector<std::string_view> aliases, uint8_t type,
                  uint8_t capacity, FourByte four_byte = FourByte::None) {
    const bool jv = type == 0x70;
    const bool bv = type == 0x40;
    FlashPart p{name,
                std::move(aliases),
                FlashFamily::Winbond,
                {0xEF, type, capacity},
                uint32_t{1} << capacity,
                64 * kKB,
                four_byte,
                jv ? 400 * kUs : 700 * kUs,
                bv ? 30 * kMs : 45 * kMs,
                150 * kMs,
                40 * kS,
                10 * kMs};
    if (p.size > 16 * kMB) p.chip_ns = 80 * kS;
    return p;
}

FlashPart m25p(std::string_view name, uint8_t capacity) {
    const uint32_t size = uint32_t{1} << capacity;
    std::vector<uint8_t> id = {0x20, 0x20, capacity};
    // The 64- and 8-Mbit parts follow the identification with a length and 16 factory bytes.
    if (capacity == 0x14 || capacity == 0x17) id.insert(id.end(), {0x10}), id.resize(20, 0);
    const bool big = capacity == 0x18;
    return {name,
            {},
            FlashFamily::M25P,
            std::move(id),
            size,
            big ? 256 * kKB : 64 * kKB,
            FourByte::None,
            600 * kUs,
            0,
            big ? 1600 * kMs : 600 * kMs,
            130 * kS * size / (16 * kMB),
            1300 * kUs};
}

FlashPart micron(std::string_view name, std::vector<std::string_view> aliases, uint8_t type,
                 uint8_t capacity, FourByte four_byte = FourByte::None) {
    const uint32_t size = uint32_t{1} << capacity;
    std::vector<uint8_t> id = {0x20, type, capacity, 0x10};
    // N25Q: two extended-ID bytes (uniform sectors, HOLD pin) and 14 factory bytes.
    if (type != 0x71) id.insert(id.end(), {0x00, 0x00, 0x23, 0x11, 0x41, 0x0C, 0x9B, 0x4E});
    id.resize(20, 0);
    return {name,
            std::move(aliases),
            FlashFamily::Micron,
            std::move(id),
            size,
            64 * kKB,
            four_byte,
            500 * kUs,
            250 * kMs,
            700 * kMs,
            170 * kS * size / (16 * kMB),
            1300 * kUs};
}

FlashPart at45(std::string_view name, uint8_t density_code, uint32_t pages, uint32_t page,
               uint8_t status_density) {
    return {name,         {},         FlashFamily::At45, {0x1F, density_code, 0x00, 0x00},
            pages * page, page,       FourByte::None,    17 * kMs,
            45 * kMs,     1600 * kMs, 25 * kS,           0,
            pages,        page,       status_density};
}

}  // namespace

const std::vector<FlashPart>& flash_parts() {
    static const std::vector<FlashPart> parts = {
        at45("AT45DB011D", 0x22, 512, 264, 0x3),
        at45("AT45DB021D", 0x23, 1024, 264, 0x5),
        at45("AT45DB041D", 0x24, 2048, 264, 0x7),
        at45("AT45DB081D", 0x25, 4096, 264, 0x9),
        at45("AT45DB161D", 0x26, 4096, 528, 0xB),
        // Chip erase 36 s and the program/erase times are the AT25DF321's typical figures.
        {"AT25DQ321",
         {},
         FlashFamily::At25dq,
         {0x1F, 0x87, 0x00, 0x01, 0x00},
         4 * kMB,
         64 * kKB,
         FourByte::None,
         1 * kMs,
         50 * kMs,
         400 * kMs,
         36 * kS,
         0},
        m25p("M25P20", 0x12),
        m25p("M25P40", 0x13),
        m25p("M25P80", 0x14),
        m25p("M25P16", 0x15),
        m25p("M25P32", 0x16),
        m25p("M25P64", 0x17),
        m25p("M25P128", 0x18),
        micron("M25PX32", {}, 0x71, 0x16),
        micron("N25Q32", {"N25Q032"}, 0xBA, 0x16),
        micron("N25Q64", {"N25Q064"}, 0xBA, 0x17),
        micron("N25Q128", {}, 0xBA, 0x18),
        micron("N25Q256", {}, 0xBA, 0x19, FourByte::OpcodesWithWren),
        micron("N25Q128A", {}, 0xBB, 0x18),
        {"SST25VF032B",
         {},
         FlashFamily::Sst,
         {0xBF, 0x25, 0x4A},
         4 * kMB,
         64 * kKB,
         FourByte::None,
         7 * kUs,
         18 * kMs,
         18 * kMs,
         35 * kMs,
         0},
        winbond("W25Q20BW", {}, 0x40, 0x12),
        winbond("W25Q40BV", {}, 0x40, 0x13),
        winbond("W25Q80BV", {}, 0x40, 0x14),
        winbond("W25Q16BV", {}, 0x40, 0x15),
        winbond("W25Q32BV", {}, 0x40, 0x16),
        winbond("W25Q64BV", {}, 0x40, 0x17),
        winbond("W25Q128BV", {"W25Q128BV/JV"}, 0x40, 0x18),
        winbond("W25Q32FV", {}, 0x60, 0x16),
        winbond("W25Q64FV", {}, 0x60, 0x17),
        winbond("W25Q128FV", {"W25Q128FW", "W25Q128FV/FW"}, 0x60, 0x18),
        winbond("W25Q256FV", {}, 0x60, 0x19, FourByte::EnterOnly),
        winbond("W25Q128JV", {}, 0x70, 0x18),
        winbond("W25Q256JV", {}, 0x70, 0x19, FourByte::Opcodes),
    };
    return parts;
}

const FlashPart* find_flash_part(std::string_view name) {
    for (const FlashPart& p : flash_parts())
        if (p.name == name ||
            std::find(p.aliases.begin(), p.aliases.end(), name) != p.aliases.end())
            return &p;
    return nullptr;
}

}  // namespace vireo::sim
