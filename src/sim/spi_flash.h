// The SPI configuration flash behind the FPGA's configuration pins: what the bridge design sees
// of it (chip select and eight clocks at a time), and the table of parts the boards can carry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vireo::sim {

// One flash part on the SPI bus. A transaction is select(), then per byte output() followed by
// input(), then deselect(). output() is what the part drives on MISO during the next eight
// clocks; on silicon it depends only on bytes already taken, which is why it comes first.
class SpiFlash {
  public:
    virtual ~SpiFlash() = default;

    virtual void select() = 0;  // chip select falls
    virtual uint8_t output() = 0;
    virtual void input(uint8_t mosi) = 0;
    // Chip select rises; whole_bytes is false when it rose in the middle of a byte.
    virtual void deselect(bool whole_bytes) = 0;
    // Modeled time of the board; program and erase cycles end by it.
    virtual void advance(uint64_t now_ns) = 0;

    // The memory array as the part holds it (state that outlives the process, tests).
    virtual std::vector<uint8_t>& array() = 0;
    virtual bool busy() const = 0;
    // Counts the cycles that may have changed the array or a stored setting, so that a saved
    // copy is rewritten only when needed.
    virtual uint64_t changes() const = 0;
    // AT45: the stored "power of two" page-size configuration.
    virtual bool power_of_two_stored() const { return false; }
};

enum class FlashFamily {
    Winbond,  // W25Q: SR1..SR3, 4K/32K/64K erase, 0x60/0xC7 chip erase
    M25P,     // ST/Micron M25P: 64K (M25P128: 256K) sectors, 0xC7 only
    Micron,   // M25PX / N25Q: 4K subsectors, 64K sectors, flag status register
    Sst,      // SST25VF: byte program, AAI word program, block protection set at power-up
    At25dq,   // AT25DQ321: 25-series commands, every sector protected at power-up
    At45,     // AT45 DataFlash: page buffers, default and "power of two" page sizes
};

// How a 256-Mbit part reaches its upper 16 MB.
enum class FourByte {
    None,
    EnterOnly,        // 0xB7/0xE9, 4-byte reads only (W25Q256FV)
    Opcodes,          // 0xB7/0xE9 and 0x12/0x21/0xDC (W25Q256JV)
    OpcodesWithWren,  // as Opcodes, but entering and leaving need WEL (N25Q256)
};

struct FlashPart {
    std::string_view name;
    std::vector<std::string_view> aliases;  // other names flash= accepts
    FlashFamily family;
    std::vector<uint8_t> id;  // the bytes 0x9F returns; 0x00 after them
    uint32_t size;            // bytes
    uint32_t sector;          // bytes 0xD8 erases (AT45: one page, in default page size)
    FourByte four_byte = FourByte::None;
    // Typical busy times, ns: page (SST: one byte or word), 4 KB erase, 0xD8 erase, chip erase,
    // status-register write.
    uint64_t page_ns, erase4k_ns, sector_ns, chip_ns, wrsr_ns;
    // AT45 only: pages and their default size (binary size is the power of two below).
    uint32_t at45_pages = 0, at45_page = 0;
    uint8_t at45_density = 0;  // status bits 5..2
    // The spread of real chips: one program cycle in `slow_one_in` (0: none) takes slow_ns
    // instead of page_ns, the same cycles on every run.
    uint32_t slow_one_in = 0;
    uint64_t slow_ns = 0;
};

const std::vector<FlashPart>& flash_parts();
const FlashPart* find_flash_part(std::string_view name);

// A part as it comes from the factory: blank array, protection as after power-up. An AT45 with
// power_of_two set powers up with binary pages.
std::unique_ptr<SpiFlash> make_spi_flash(const FlashPart& part, bool power_of_two = false);

}  // namespace vireo::sim
