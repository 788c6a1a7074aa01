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
    // Whole bytes eight bits at a time without branches (long scans pass through here), the rest
    // bit by bit.
    size_t i = 0;
    if (tdi) {
        const uint8_t* t = tdi + first;
        const uint8_t* m = mask ? mask + first : nullptr;
        for (; i + 8 <= n; i += 8) {
            unsigned byte = 0;
            if (m) {
                for (unsigned b = 0; b < 8; ++b)
                    byte |= unsigned((t[i + b] != 0) & (m[i + b] != 0)) << b;
            } else {
                for (unsigned b = 0; b < 8; ++b) byte |= unsigned(t[i + b] != 0) << b;
            }
            out[i / 8] = static_cast<uint8_t>(byte);
        }
    }
    for (size_t k = i / 8; k < (n + 7) / 8; ++k) out[k] = 0;
    for (; i < n; ++i)
        if (tdi_bit(tdi, mask, first + i)) out[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
}

// Unpacks n bits from packed into one byte per bit (0 or 1) at out.
inline void unpack_bits(const uint8_t* packed, size_t n, uint8_t* out) {
    // Whole bytes eight bits at a time, the rest bit by bit.
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const unsigned byte = packed[i / 8];
        for (unsigned b = 0; b < 8; ++b) out[i + b] = (byte >> b) & 1;
    }
    for (; i < n; ++i) out[i] = (packed[i / 8] >> (i % 8)) & 1;
}
