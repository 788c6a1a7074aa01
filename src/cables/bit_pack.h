// The cable layer's bit arrays hold one byte per bit (nonzero = 1, index 0 shifted first); the
// cables take TDI and give TDO packed eight bits to a byte, least significant bit first: bit i
// is bit (i mod 8) of byte i / 8.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// TDI bit i: 1 when tdi[i] is nonzero and, with a mask, mask[i] is nonzero too. No tdi: 0.
inline bool tdi_bit(const uint8_t* tdi, const uint8_t* mask, size_t i) {
    return tdi && tdi[i] && (!mask || mask[i]);
}

namespace bit_pack_detail {

static_assert(std::endian::native == std::endian::little);

// Long scans cross these eight bits at a time, as 64-bit words (bit i of a byte array is byte i
// of the word, little-endian as every host we build for).
inline uint64_t load8(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Bit 7 of each byte of x set where that byte is nonzero, every other bit clear.
inline uint64_t nonzero_bytes(uint64_t x) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    return (((x & kLow7) + kLow7) | x) & ~kLow7;
}

// Bit b of the result is bit 7 of byte b of `high` (where the other bits are clear): the
// multiplication moves each byte's bit to its own place in the top byte without carries.
inline uint8_t gather_high_bits(uint64_t high) {
    return static_cast<uint8_t>(((high >> 7) * 0x0102040810204080ull) >> 56);
}

// Byte b of entry v is bit b of v (least significant first) or bit 7 - b (most significant
// first).
constexpr std::array<uint64_t, 256> spread_table(bool msb_first) {
    std::array<uint64_t, 256> table{};
    for (unsigned v = 0; v < 256; ++v)
        for (unsigned b = 0; b < 8; ++b)
            table[v] |= uint64_t{(v >> (msb_first ? 7 - b : b)) & 1} << (8 * b);
    return table;
}
inline constexpr std::array<uint64_t, 256> kSpread = spread_table(false);
inline constexpr std::array<uint64_t, 256> kSpreadMsbFirst = spread_table(true);

}  // namespace bit_pack_detail

// Packs bits [first, first + n) of tdi (masked as tdi_bit says) into (n + 7) / 8 bytes at out.
inline void pack_bits(const uint8_t* tdi, const uint8_t* mask, size_t first, size_t n,
                      uint8_t* out) {
    using namespace bit_pack_detail;
    size_t i = 0;
    if (tdi) {
        const uint8_t* t = tdi + first;
        const uint8_t* m = mask ? mask + first : nullptr;
        for (; i + 8 <= n; i += 8) {
            // Long runs of zeros (idle cycles, blank frames) cost a test each.
            const uint64_t bits = load8(t + i);
            if (bits == 0) {
                out[i / 8] = 0;
                continue;
            }
            uint64_t high = nonzero_bytes(bits);
            if (m) high &= nonzero_bytes(load8(m + i));
            out[i / 8] = gather_high_bits(high);
        }
    }
    for (size_t k = i / 8; k < (n + 7) / 8; ++k) out[k] = 0;
    for (; i < n; ++i)
        if (tdi_bit(tdi, mask, first + i)) out[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
}

// Unpacks n bits from packed into one byte per bit (0 or 1) at out.
inline void unpack_bits(const uint8_t* packed, size_t n, uint8_t* out) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) std::memcpy(out + i, &bit_pack_detail::kSpread[packed[i / 8]], 8);
    for (; i < n; ++i) out[i] = (packed[i / 8] >> (i % 8)) & 1;
}

// The byte order SPI shifts: byte k's most significant bit is bit 8k. unpack_msb_first spreads
// `count` bytes into 8 × count bits (0 or 1); pack_msb_first takes bit 0 of each of 8 × count
// bit bytes back into `count` bytes.
inline void unpack_msb_first(const uint8_t* bytes, size_t count, uint8_t* bits) {
    for (size_t k = 0; k < count; ++k)
        std::memcpy(bits + 8 * k, &bit_pack_detail::kSpreadMsbFirst[bytes[k]], 8);
}

inline void pack_msb_first(const uint8_t* bits, size_t count, uint8_t* bytes) {
    // Bit 0 of byte b moves to bit 7 - b of the top byte, again without carries.
    for (size_t k = 0; k < count; ++k) {
        const uint64_t low = bit_pack_detail::load8(bits + 8 * k) & 0x0101010101010101ull;
        bytes[k] = static_cast<uint8_t>((low * 0x8040201008040201ull) >> 56);
    }
}
