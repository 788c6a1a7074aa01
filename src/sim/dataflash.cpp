#include "sim/dataflash.h"

#include <algorithm>

namespace vireo::sim {
namespace {

// D-series figures besides the table's: page erase and buffer-to-page without erase.
constexpr uint64_t kPageEraseNs = 15'000'000;
constexpr uint64_t kProgramOnlyNs = 3'000'000;
constexpr uint8_t kSecurityUser = 64;

bool is(const uint8_t* h, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return h[0] == a && h[1] == b && h[2] == c && h[3] == d;
}

}  // namespace

DataFlash::DataFlash(const FlashPart& part, bool power_of_two)
    : part_(part),
      array_(size_t{part.at45_pages} * part.at45_page, 0xFF),
      buffer_{std::vector<uint8_t>(part.at45_page, 0xFF),
              std::vector<uint8_t>(part.at45_page, 0xFF)},
      binary_(power_of_two),
      binary_stored_(power_of_two) {}

uint32_t DataFlash::binary_page() const {
    return part_.at45_page == 528 ? 512 : 256;
}

uint8_t DataFlash::status() const {
    return static_cast<uint8_t>((busy() ? 0 : 0x80) | (part_.at45_density << 2) |
                                (protect_ ? 2 : 0) | (binary_ ? 1 : 0));
}

uint32_t DataFlash::address() const {
    return uint32_t{header_[1]} << 16 | uint32_t{header_[2]} << 8 | header_[3];
}

// Default page size: page number above the byte bits (9 for 264-byte pages, 10 for 528), bits
// above the page number ignored. Binary page size: a plain linear address.
uint32_t DataFlash::page_of(uint32_t a) const {
    if (binary_) return (a / binary_page()) % part_.at45_pages;
    const unsigned shift = part_.at45_page == 528 ? 10 : 9;
    return (a >> shift) % part_.at45_pages;
}

uint32_t DataFlash::byte_of(uint32_t a) const {
    if (binary_) return a % binary_page();
    const unsigned shift = part_.at45_page == 528 ? 10 : 9;
    return (a & ((1u << shift) - 1)) % part_.at45_page;
}

void DataFlash::select() {
    count_ = 0;
}

uint8_t DataFlash::output() {
    if (count_ == 0) return 0xFF;
    const uint8_t op = header_[0];
    if (op == 0xD7) return status();
    if (busy()) return 0xFF;
    switch (op) {
        case 0x9F:
            return count_ - 1 < part_.id.size() ? part_.id[count_ - 1] : 0x00;
        case 0x77: {
            if (count_ < 4) return 0xFF;
            const size_t i = (count_ - 4) % 128;
            if (i < kSecurityUser) return 0xFF;
            return static_cast<uint8_t>(part_.at45_density * 37 + i * 11);  // factory identifier
        }
        case 0x03:
        case 0x0B:
        case 0xE8: {
            const size_t header = op == 0x03 ? 4 : op == 0x0B ? 5 : 8;
            if (count_ < header) return 0xFF;
            // Runs through the end of each page into the next, from the last page to page 0.
            const uint32_t size = page_size();
            const uint64_t linear =
                uint64_t{page_of(address())} * size + byte_of(address()) + (count_ - header);
            const uint64_t page = (linear / size) % part_.at45_pages;
            return array_[page * part_.at45_page + linear % size];
        }
        case 0xD4:
        case 0xD6: {
            if (count_ < 5) return 0xFF;
            const std::vector<uint8_t>& b = buffer_[op == 0xD6 ? 1 : 0];
            return b[(byte_of(address()) + count_ - 5) % page_size()];
        }
        default:
            return 0xFF;
    }
}

void DataFlash::input(uint8_t mosi) {
    if (count_ < kHeaderBytes) header_[count_] = mosi;
    const uint8_t op = header_[0];
    // Buffer writes wrap inside the buffer.
    if ((op == 0x84 || op == 0x87 || op == 0x82 || op == 0x85) && count_ >= 4 && !busy())
        buffer_[op == 0x87 || op == 0x85 ? 1 : 0][(byte_of(address()) + count_ - 4) % page_size()] =
            mosi;
    ++count_;
}

void DataFlash::deselect(bool whole_bytes) {
    if (whole_bytes && count_ > 0 && !busy()) execute();
    count_ = 0;
}

void DataFlash::erase_pages(uint32_t first, uint32_t count, uint64_t ns) {
    std::fill_n(array_.begin() + size_t{first} * part_.at45_page, size_t{count} * part_.at45_page,
                uint8_t{0xFF});
    start(ns);
}

void DataFlash::execute() {
    const uint8_t op = header_[0];
    const uint32_t size = page_size();
    const uint32_t page = page_of(address());
    uint8_t* cells = array_.data() + size_t{page} * part_.at45_page;
    switch (op) {
        case 0x82:
        case 0x85:
        case 0x83:
        case 0x86:
        case 0x88:
        case 0x89: {
            if (count_ < 4) return;
            const bool erase = op != 0x88 && op != 0x89;
            const std::vector<uint8_t>& b = buffer_[op == 0x85 || op == 0x86 || op == 0x89];
            for (uint32_t i = 0; i < size; ++i) cells[i] = erase ? b[i] : cells[i] & b[i];
            start(erase ? part_.page_ns : kProgramOnlyNs);
            break;
        }
        case 0x53:
        case 0x55:
            if (count_ < 4) return;
            std::copy_n(cells, size, buffer_[op == 0x55].begin());
            start(200'000);
            break;
        case 0x81:
            if (count_ == 4) erase_pages(page, 1, kPageEraseNs);
            break;
        case 0x50:
            if (count_ == 4) erase_pages(page - page % 8, 8, part_.erase4k_ns);
            break;
        case 0x7C: {
            if (count_ != 4) return;
            // Sector 0a is pages 0-7, 0b the rest of the first sector.
            const uint32_t per = part_.at45_pages <= 1024 ? 128 : 256;
            const uint32_t first = page < 8 ? 0 : page < per ? 8 : page - page % per;
            const uint32_t n = page < 8 ? 8 : page < per ? per - 8 : per;
            erase_pages(first, n, part_.sector_ns);
            break;
        }
        case 0xC7:
            if (count_ == 4 && is(header_, 0xC7, 0x94, 0x80, 0x9A))
                erase_pages(0, part_.at45_pages, part_.chip_ns);
            break;
        case 0x3D:
            if (count_ != 4) return;
            if (is(header_, 0x3D, 0x2A, 0x80, 0xA6)) binary_stored_ = true, ++changes_;
            if (is(header_, 0x3D, 0x2A, 0x7F, 0xA9)) protect_ = true;
            if (is(header_, 0x3D, 0x2A, 0x7F, 0x9A)) protect_ = false;
            break;
        default:
            break;
    }
}

}  // namespace vireo::sim
