#include "sim/jedec_flash.h"

#include <algorithm>

#include "sim/dataflash.h"

namespace vireo::sim {
namespace {

constexpr uint32_t kPage = 256;
constexpr uint32_t k4K = 4096, k32K = 32768, kSector = 65536;

}  // namespace

JedecFlash::JedecFlash(const FlashPart& part)
    : part_(part), array_(part.size, 0xFF), latch_(kPage, -1) {
    // Power-up protection: SST sets all block-protection bits, the AT25DQ321 locks every sector.
    if (part_.family == FlashFamily::Sst) sr_ = 0x1C;
    sector_locked_.assign(part_.size / kSector, part_.family == FlashFamily::At25dq);
}

void JedecFlash::advance(uint64_t now_ns) {
    now_ns_ = std::max(now_ns_, now_ns);
    settle();
}

// The end of a program, erase or status cycle clears WEL (an AAI sequence keeps it).
void JedecFlash::settle() {
    if (!cycle_ || busy()) return;
    cycle_ = false;
    if (!aai_) wel_ = false;
}

// A fixed scramble of the cycle count picks the slow cycles: spread out, and the same each run.
uint64_t JedecFlash::program_ns() {
    const uint64_t n = ++cycles_ * 0x9E3779B97F4A7C15ull;
    return part_.slow_one_in && (n >> 32) % part_.slow_one_in == 0 ? part_.slow_ns : part_.page_ns;
}

void JedecFlash::start_cycle(uint64_t ns) {
    ++changes_;
    cycle_ = true;
    busy_until_ = now_ns_ + ns;
    settle();
}

uint8_t JedecFlash::status() const {
    uint8_t s = static_cast<uint8_t>((busy() ? 1 : 0) | (wel_ ? 2 : 0));
    switch (part_.family) {
        case FlashFamily::Sst:
            return s | (sr_ & 0xBC) | (aai_ ? 0x40 : 0);
        case FlashFamily::At25dq: {
            const auto locked = std::count(sector_locked_.begin(), sector_locked_.end(), true);
            const uint8_t swp = locked == 0 ? 0 : locked == std::ssize(sector_locked_) ? 3 : 1;
            // WP# is pulled high on the boards, so WPP reads 1.
            return s | static_cast<uint8_t>(swp << 2) | 0x10 | (sprl_ ? 0x80 : 0);
        }
        default:
            return s | (sr_ & 0xFC);
    }
}

size_t JedecFlash::address_bytes(uint8_t op) const {
    switch (op) {
        case 0x13:
        case 0x0C:
            if (part_.four_byte != FourByte::None) return 4;
            break;
        case 0x12:
        case 0x21:
        case 0xDC:
            if (part_.four_byte == FourByte::Opcodes ||
                part_.four_byte == FourByte::OpcodesWithWren)
                return 4;
            break;
        default:
            break;
    }
    return addr4_ ? 4 : 3;
}

// In 3-byte mode the extended address register supplies A24; a part smaller than the address
// space ignores the high bits, so addresses alias.
uint32_t JedecFlash::address(size_t from, size_t nbytes) const {
    uint64_t a = nbytes == 3 ? uint64_t{ear_} << 24 : 0;
    for (size_t i = 0; i < nbytes; ++i) a |= uint64_t{header_[from + i]} << (8 * (nbytes - 1 - i));
    return static_cast<uint32_t>(a % part_.size);
}

bool JedecFlash::is_protected(uint32_t first, uint32_t count) const {
    if (part_.family == FlashFamily::At25dq) {
        for (uint32_t s = first / kSector; s <= (first + count - 1) / kSector; ++s)
            if (sector_locked_[s]) return true;
        return false;
    }
    // BP2..BP0 = v protects the upper 1/2^(7-v) of the array, 7 all of it.
    const unsigned bp = (sr_ >> 2) & 7;
    if (bp == 0) return false;
    const uint32_t low = bp == 7 ? 0 : part_.size - (part_.size >> (7 - bp));
    return first + count > low;
}

void JedecFlash::select() {
    count_ = 0;
    std::fill(latch_.begin(), latch_.end(), int16_t{-1});
}

uint8_t JedecFlash::output() {
    if (count_ == 0) return 0xFF;  // nothing drives MISO during the opcode
    const uint8_t op = header_[0];
    const bool micron = part_.family == FlashFamily::Micron;
    if (busy() && op != 0x05 && !(micron && op == 0x70)) return 0xFF;
    if (aai_ && op != 0x05) return 0xFF;
    const bool winbond = part_.family == FlashFamily::Winbond;
    switch (op) {
        case 0x05:
            return status();
        case 0x35:
            return winbond ? sr2_ : 0xFF;
        case 0x15:
            return winbond && part_.four_byte != FourByte::None ? (addr4_ ? 1 : 0) : 0xFF;
        case 0x70:
            return micron ? static_cast<uint8_t>((busy() ? 0 : 0x80) | (addr4_ ? 1 : 0)) : 0xFF;
        case 0xC8:
            return part_.four_byte != FourByte::None ? ear_ : 0xFF;
        case 0x9F:
            return count_ - 1 < part_.id.size() ? part_.id[count_ - 1] : 0x00;
        case 0x4B: {
            if (!winbond) return 0xFF;
            if (count_ < 5 || count_ >= 13) return 0x00;
            // A factory-unique number, fixed per part name.
            uint64_t h = 0xcbf29ce484222325ull;
            for (char c : part_.name) h = (h ^ static_cast<uint8_t>(c)) * 0x100000001b3ull;
            return static_cast<uint8_t>(h >> (8 * (12 - count_)));
        }
        case 0x3C:
            if (part_.family != FlashFamily::At25dq || count_ < 4) return 0xFF;
            return sector_locked_[address(1, 3) / kSector] ? 0xFF : 0x00;
        case 0x03:
        case 0x13:
        case 0x0B:
        case 0x0C: {
            const size_t nbytes = address_bytes(op);
            if ((op == 0x13 || op == 0x0C) && nbytes != 4) return 0xFF;
            const size_t header = 1 + nbytes + (op == 0x0B || op == 0x0C ? 1 : 0);
            if (count_ < header) return 0xFF;
            return array_[(uint64_t{address(1, nbytes)} + count_ - header) % part_.size];
        }
        default:
            return 0xFF;
    }
}

void JedecFlash::input(uint8_t mosi) {
    if (count_ < kHeaderBytes) header_[count_] = mosi;
    const uint8_t op = header_[0];
    if (op == 0x02 || op == 0x12) {
        const size_t header = 1 + address_bytes(op);
        // Data past the end of the page continues at the start of the same page.
        if (count_ >= header) latch_[(address(1, header - 1) + count_ - header) % kPage] = mosi;
    }
    ++count_;
}

void JedecFlash::deselect(bool whole_bytes) {
    // A command ends on a byte boundary or not at all; a busy part ignores it.
    if (whole_bytes && count_ > 0 && !busy()) execute();
    count_ = 0;
}

void JedecFlash::execute() {
    const uint8_t op = header_[0];
    if (aai_ && op != 0x04 && op != 0xAD) return;
    const FlashFamily f = part_.family;
    const bool has_60 =
        f == FlashFamily::Winbond || f == FlashFamily::Sst || f == FlashFamily::At25dq;
    const bool has_4b = part_.four_byte != FourByte::None;
    const size_t nbytes = address_bytes(op);
    const bool erase_frame = count_ == 1 + nbytes;
    switch (op) {
        case 0x06:
            if (count_ == 1) wel_ = true;
            break;
        case 0x04:
            if (count_ == 1) wel_ = aai_ = false;
            break;
        case 0x50:
            if (count_ == 1 && f == FlashFamily::Sst) ewsr_ = true;
            break;
        case 0x01:
            write_status();
            break;
        case 0x02:
        case 0x12:
            if (nbytes == 4 || op == 0x02) program(address(1, nbytes));
            break;
        case 0x20:
        case 0x21:
            if (erase_frame && f != FlashFamily::M25P && (op == 0x20 || nbytes == 4))
                erase(address(1, nbytes), k4K, part_.erase4k_ns);
            break;
        case 0x52:
            if (erase_frame && has_60) erase(address(1, nbytes), k32K, part_.sector_ns);
            break;
        case 0xD8:
        case 0xDC:
            if (erase_frame && (op == 0xD8 || nbytes == 4))
                erase(address(1, nbytes), part_.sector, part_.sector_ns);
            break;
        case 0x60:
        case 0xC7:
            if (count_ == 1 && (op == 0xC7 || has_60)) erase(0, part_.size, part_.chip_ns);
            break;
        case 0xB7:
        case 0xE9:
            if (count_ != 1 || !has_4b) break;
            if (part_.four_byte == FourByte::OpcodesWithWren) {
                if (!wel_) break;
                wel_ = false;
            }
            addr4_ = op == 0xB7;
            // Leaving 4-byte mode on the W25Q256FV points 3-byte commands at the upper half.
            if (op == 0xE9 && part_.four_byte == FourByte::EnterOnly) ear_ = 1;
            break;
        case 0xC5:
            if (count_ == 2 && has_4b && wel_) ear_ = header_[1] & 1, wel_ = false;
            break;
        case 0xAD:
            if (f == FlashFamily::Sst) aai_word();
            break;
        case 0x36:
        case 0x39:
            if (f != FlashFamily::At25dq || count_ < 4 || !wel_) break;
            if (!sprl_) sector_locked_[address(1, 3) / kSector] = op == 0x36;
            wel_ = false;
            break;
        default:
            break;
    }
}

void JedecFlash::write_status() {
    if (!(wel_ || ewsr_) || count_ < 2) return;
    const uint8_t b = header_[1];
    switch (part_.family) {
        case FlashFamily::Sst:
            sr_ = b & 0xBC;
            break;
        case FlashFamily::At25dq:
            // Bits 5..2 all clear unprotect every sector, all set protect every sector; only
            // SPRL is stored.
            if (!sprl_ && ((b >> 2) & 0xF) == 0)
                sector_locked_.assign(sector_locked_.size(), false);
            if (!sprl_ && ((b >> 2) & 0xF) == 0xF)
                sector_locked_.assign(sector_locked_.size(), true);
            sprl_ = b & 0x80;
            break;
        case FlashFamily::Winbond:
            sr_ = b & 0xFC;
            if (count_ >= 3) sr2_ = header_[2] & 0x7F;
            break;
        default:
            sr_ = b & 0xFC;
            break;
    }
    ewsr_ = false;
    wel_ = true;  // cleared when the cycle ends
    start_cycle(part_.wrsr_ns);
}

void JedecFlash::program(uint32_t at) {
    const size_t header = 1 + address_bytes(header_[0]);
    if (!wel_ || count_ <= header) return;
    const uint32_t base = at - at % kPage;
    if (part_.family == FlashFamily::Sst) {
        // Single-byte program: the first data byte only.
        if (is_protected(at, 1)) {
            wel_ = false;
            return;
        }
        array_[at] &= static_cast<uint8_t>(latch_[at % kPage]);
    } else {
        if (is_protected(base, kPage)) {
            wel_ = false;
            return;
        }
        for (uint32_t i = 0; i < kPage; ++i)
            if (latch_[i] >= 0) array_[base + i] &= static_cast<uint8_t>(latch_[i]);
    }
    start_cycle(program_ns());
}

// A protected area refuses without a busy cycle and drops WEL.
void JedecFlash::erase(uint32_t at, uint32_t unit, uint64_t ns) {
    if (!wel_) return;
    const uint32_t base = at - at % unit;
    if (is_protected(base, unit)) {
        wel_ = false;
        return;
    }
    std::fill(array_.begin() + base, array_.begin() + base + unit, uint8_t{0xFF});
    start_cycle(ns);
}

// AAI: the first frame carries the address (rounded down to even) and a word, the following
// frames only a word each; WRDI ends the sequence.
void JedecFlash::aai_word() {
    uint32_t at = 0;
    if (!aai_) {
        if (!wel_ || count_ != 6) return;
        at = address(1, 3) & ~1u;
        if (is_protected(at, 2)) {
            wel_ = false;
            return;
        }
        array_[at] &= header_[4];
        array_[at + 1] &= header_[5];
        aai_ = true;
    } else {
        if (count_ != 3) return;
        at = aai_address_ % part_.size;
        array_[at] &= header_[1];
        array_[at + 1] &= header_[2];
    }
    aai_address_ = at + 2;
    start_cycle(program_ns());
}

std::unique_ptr<SpiFlash> make_spi_flash(const FlashPart& part, bool power_of_two) {
    if (part.family == FlashFamily::At45) return std::make_unique<DataFlash>(part, power_of_two);
    return std::make_unique<JedecFlash>(part);
}

}  // namespace vireo::sim
