// The cable layer's bit arrays hold one byte per bit (nonzero = 1, index 0 shifted first); the
// cables take TDI and give TDO packed eight bits to a byte, least significant bit first: bit i
// is bit (i mod 8) of byte i / 8.
#pragma once

#include <cstddef>
#include <cstdint>

// TDI bit i: 1 when tdi[i] is nonzero and, with a mask, mask[i] is nonzero too. No tdi: 0.
inline bool tdi_bit(const uint8_t* tdi, const uint8_t* mask, size_t i) {
    return tdi && tdi[i] && (!mask || mask[i]);
}

// Packs bits [first, first + n) of tdi (masked as tdi_bit says) into (n + 7) / 8 bytes at out.
inline void pack_bits(const uint8_t* tdi, const uint8_t* mask, size_t first, size_t n,
                      uint8_t* out) {
    // A byte at a time without branches: long scans pass through here bit by bit.
    for (size_t base = 0; base < n; base += 8) {
        const size_t count = n - base < 8 ? n - base : 8;
        unsigned byte = 0;
        if (tdi && mask) {
            for (size_t b = 0; b < count; ++b)
                byte |= unsigned((tdi[first + base + b] != 0) & (mask[first + base + b] != 0)) << b;
        } else if (tdi) {
            for (size_t b = 0; b < count; ++b) byte |= unsigned(tdi[first + base + b] != 0) << b;
        }
        out[base / 8] = static_cast<uint8_t>(byte);
    }
}

// Unpacks n bits from packed into one byte per bit (0 or 1) at out.
inline void unpack_bits(const uint8_t* packed, size_t n, uint8_t* out) {
    for (size_t i = 0; i < n; ++i) out[i] = (packed[i / 8] >> (i % 8)) & 1;
}
