// The transactions every flash operation is built from: the command groups, page addressing
// (the AT45 binary page size, the upper 16 MB of the 256-Mbit parts), busy waits bounded by the
// data sheets' maximum times and spent as JTAG idle time, and the reads.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <vector>

#include "spirom/spirom.h"
#include "spirom/spirom_file.h"

namespace spirom_io {

enum class Group { None, At45, Series25, Sst, Winbond };

// A busy wait that ran past its bound (besides JTAG_OK, JTAG_CANCELLED and transfer failures).
constexpr int kTimedOut = -1;

// Pages and their addresses: page number << shift is a page's flash address.
struct Geometry {
    int page_size = 0;
    int page_count = 0;
    int shift = 0;

    int64_t flash_bytes() const { return int64_t{page_size} * page_count; }
    uint32_t page_address(int page) const { return static_cast<uint32_t>(page) << shift; }
    // One past the highest flash address (above flash_bytes() where pages are not a power of two).
    int64_t address_end() const { return int64_t{page_count} << shift; }
    // Whether a flash address starts a page; the page it lies in.
    bool page_aligned(uint32_t address) const { return (address & ((1u << shift) - 1)) == 0; }
    int page_of(uint32_t address) const { return static_cast<int>(address >> shift); }
};

// The largest flash any command can meet (the 256-Mbit parts), for checks made before the flash
// is known: every page size of the part table divides 256-byte aligned addresses.
constexpr Geometry kLargestFlash = {256, 131072, 8};

// Maximum busy times from the data sheets, with the interval between status reads.
struct BusyLimit {
    int64_t poll_us;
    int64_t max_us;
};

class FlashIo {
  public:
    explicit FlashIo(const SpiRomContext* context);
    // Points 3-byte commands at the lower 16 MB again, unless done(); collects deferred bytes.
    ~FlashIo();
    // Points 3-byte commands at the lower 16 MB again, where the FPGA boots from: an operation
    // whose flash is left pointing elsewhere has not ended well.
    int done();
    FlashIo(const FlashIo&) = delete;
    FlashIo& operator=(const FlashIo&) = delete;

    Group group() const { return group_; }
    bool at25dq() const;
    uint32_t jedec() const { return c_ ? c_->jedec : 0; }
    const Geometry& geometry() const { return geo_; }
    int page_size() const { return geo_.page_size; }
    int page_count() const { return geo_.page_count; }
    int64_t flash_bytes() const { return geo_.flash_bytes(); }
    uint32_t page_address(int page) const { return geo_.page_address(page); }
    bool page_aligned(uint32_t address) const { return geo_.page_aligned(address); }
    int page_of(uint32_t address) const { return geo_.page_of(address); }
    // Pages one 0xD8 erases (1 for the AT45 pages, which erase themselves).
    int sector_pages() const { return sector_pages_; }

    BusyLimit page_limit() const { return page_; }
    BusyLimit sector_limit() const { return sector_; }
    BusyLimit chip_limit() const { return chip_; }

    // Write-only transactions: bare command bytes (then idle_clocks TCK cycles with the flash
    // deselected, in the same scan); a command with address and data.
    int command(std::initializer_list<uint8_t> bytes, int idle_clocks = 0);
    int addressed(uint8_t op, uint32_t address, const uint8_t* data = nullptr, int count = 0);
    // An addressed command that needs the write-enable latch (program, erase, unprotect): on the
    // parts beyond 16 MB the extended address register is written first, because that write
    // clears the latch; then write enable, then the command.
    int write_enabled(uint8_t op, uint32_t address, const uint8_t* data = nullptr, int count = 0);
    // Fast read (0x0B) of count bytes from address, clocking `fill` out while reading.
    int read(uint32_t address, uint8_t* out, int count, uint8_t fill = 0x00);
    // Pages a long read takes at once from page on: up to the next 64 KB boundary, so that no
    // read crosses into another 16 MB window of the 3-byte addresses. A fast read runs on from
    // the end of one page into the next on every part (AT45 pages of 528 bytes too).
    int read_span(int page) const;
    // count consecutive pages from page on into out, read_span pages to a transaction.
    int read_pages(int page, int count, uint8_t* out, uint8_t fill = 0x00);
    int read_status(uint8_t* status);
    // Polls the status until ready, idling poll_us between reads, for at least max_us. With
    // cancel set, a cleared running flag ends the wait with JTAG_CANCELLED; with progress set,
    // the time waited goes to the progress line as a percentage of the bound.
    int wait_ready(BusyLimit limit, bool cancel, bool progress = false);
    // JTAG idle time, which is time the flash spends on its cycle.
    int idle(int64_t usec);
    // TCK cycles of the last bridge transaction: its data scan over the whole chain and the TAP
    // moves from Run-Test/Idle and back.
    int64_t frame_clocks() const;

    // Status reads whose bytes the cable may deliver later (cables that cannot deliver them at
    // once): probe() reads the status twice, eight clocks apart, into two bytes that are in
    // place once collect() or any waited transaction returns.
    bool defers();
    int probe(uint8_t* two);
    int collect();

  private:
    int select_segment(uint32_t address);

    const SpiRomContext* c_;
    Group group_ = Group::None;
    Geometry geo_;
    int sector_pages_ = 1;
    BusyLimit page_{}, sector_{}, chip_{};
    bool four_byte_ = false;  // the part is larger than 3 address bytes reach
    bool deferred_ = false;   // probes went out since the last collect
    int segment_ = -1;        // extended address register as last written, -1 unknown
    // Per kind of wait (keyed by its bound): how long the last one took, so that the next one
    // idles about that long before its first status read instead of polling all the way.
    std::map<int64_t, int64_t> expected_us_;
};

}  // namespace spirom_io

namespace spirom_io {

// The file image for program and verify, from the offset's page on: refuses a missing name, an
// offset that does not start a page or lies past the flash, an unreadable, empty, incomplete or
// faulty file and one larger than the flash from the offset, each with its log line.
int load_image(const Geometry& geometry, const char* path, uint32_t offset, bool trim,
               SpiRomImage* image, bool quiet = false);

}  // namespace spirom_io
