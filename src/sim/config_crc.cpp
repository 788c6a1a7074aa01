#include "sim/config_crc.h"

#include <array>

namespace vireo::sim {
namespace {

constexpr uint32_t kCastagnoliReflected = 0x82F63B78;

constexpr std::array<uint32_t, 256> make_byte_table() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kCastagnoliReflected : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr auto kByteTable = make_byte_table();

}  // namespace

uint32_t crc_series7(uint32_t crc, unsigned reg, uint32_t data) {
    for (int i = 0; i < 4; ++i) {
        crc = kByteTable[(crc ^ data) & 0xFF] ^ (crc >> 8);
        data >>= 8;
    }
    for (int i = 0; i < 5; ++i) {
        uint32_t bit = (crc ^ (reg >> i)) & 1;
        crc >>= 1;
        if (bit) crc ^= kCastagnoliReflected;
    }
    return crc;
}

uint32_t crc_spartan6(uint32_t crc, unsigned reg, uint16_t data) {
    const uint32_t input = ((reg & 0x3F) << 16) | data;
    const bool carry = (crc >> 21) & 1;
    crc = ((crc << 1) & 0x3FFFFF) ^ input;
    if (carry) crc ^= 0x9081;
    return crc;
}

bool crc_skips_series7(unsigned reg) {
    return reg == 0x00 || reg == 0x0F || reg == 0x12 || reg == 0x14 || reg == 0x15 || reg == 0x16;
}

bool crc_skips_spartan6(unsigned reg) {
    return reg == 0x00 || reg == 0x04 || reg == 0x08 || reg == 0x09 || reg == 0x12 || reg == 0x1F ||
           reg == 0x20;
}

}  // namespace vireo::sim
