// The two running checksums of the configuration packet processors. Shared by the engine that
// checks them and by bitgen, which writes them into synthetic images.
#pragma once

#include <cstdint>

namespace vireo::sim {

// 7-series: the 5-bit register address above the 32 data bits forms a 37-bit message that is fed
// least-significant bit first through the reflected CRC-32C polynomial, without any inversion.
uint32_t crc_series7(uint32_t crc, unsigned reg, uint32_t data);

// Spartan-6: a 22-bit signature register. Each write folds (address << 16 | data) in one step.
uint32_t crc_spartan6(uint32_t crc, unsigned reg, uint16_t data);

// Registers whose writes are left out of the running checksum.
bool crc_skips_series7(unsigned reg);
bool crc_skips_spartan6(unsigned reg);

}  // namespace vireo::sim
