// The transactions every flash operation is built from: the command groups, page addressing
// (the AT45 binary page size, the upper 16 MB of the 256-Mbit parts), busy waits bounded by the
// data sheets' maximum times and spent as JTAG idle time, and the reads.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "spirom/spirom.h"

namespace spirom_io {

enum class Group { None, At45, Series25, Sst, Winbond };

// A busy wait that ran past its bound (besides JTAG_OK, JTAG_CANCELLED and transfer failures).
constexpr int kTimedOut = -1;

// Maximum busy times from the data sheets, with the interval between status reads.
struct BusyLimit {
    int64_t poll_us;
    int64_t max_us;
};

class FlashIo {
  public:
    explicit FlashIo(const SpiRomContext* context);
    ~FlashIo();  // points 3-byte commands at the lower 16 MB again
    FlashIo(const FlashIo&) = delete;
    FlashIo& operator=(const FlashIo&) = delete;

    Group group() const { return group_; }
    bool at25dq() const;
    int page_size() const { return page_size_; }
    int page_count() const { return page_count_; }
    int64_t flash_bytes() const { return int64_t{page_size_} * page_count_; }
    uint32_t page_address(int page) const { return static_cast<uint32_t>(page) << shift_; }
    // Whether a flash address starts a page; the page it starts.
    bool page_aligned(uint32_t address) const { return (address & ((1u << shift_) - 1)) == 0; }
    int page_of(uint32_t address) const { return static_cast<int>(address >> shift_); }
    // Pages one 0xD8 erases (1 for the AT45 pages, which erase themselves).
    int sector_pages() const { return sector_pages_; }

    BusyLimit page_limit() const { return page_; }
    BusyLimit sector_limit() const { return sector_; }
    BusyLimit chip_limit() const { return chip_; }

    // Write-only transactions: bare command bytes; a command with address and data.
    int command(std::initializer_list<uint8_t> bytes);
    int addressed(uint8_t op, uint32_t address, const uint8_t* data = nullptr, int count = 0);
    // Fast read (0x0B) of count bytes from address.
    int read(uint32_t address, uint8_t* out, int count);
    int read_status(uint8_t* status);
    // Polls the status until ready, idling poll_us between reads, for at least max_us. With
    // cancel set, a cleared running flag ends the wait with JTAG_CANCELLED; with progress set,
    // the time waited goes to the progress line as a percentage of the bound.
    int wait_ready(BusyLimit limit, bool cancel, bool progress = false);
    // JTAG idle time, which is time the flash spends on its cycle.
    int idle(int64_t usec);

  private:
    int select_segment(uint32_t address);

    const SpiRomContext* c_;
    Group group_ = Group::None;
    int page_size_ = 0, page_count_ = 0, shift_ = 0, sector_pages_ = 1;
    BusyLimit page_{}, sector_{}, chip_{};
    bool four_byte_ = false;  // the part is larger than 3 address bytes reach
    int segment_ = -1;        // extended address register as last written, -1 unknown
};

}  // namespace spirom_io

namespace spirom_io {

// The file image for program and verify: refuses a missing name, an offset that does not start
// a page or lies past the flash, an unreadable or faulty file and one larger than the flash from
// the offset (each with its log line). Trims the .bit header when the context says so.
int load_image(const FlashIo& io, const SpiRomContext* context, const char* path, uint32_t offset,
               std::vector<uint8_t>* image, int64_t* length);

}  // namespace spirom_io
