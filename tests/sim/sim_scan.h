// Scan helpers for the virtual-board tests: whole IR/DR scans from Run-Test/Idle and back.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/bits.h"
#include "sim/tap_chain.h"

namespace vireo::sim::test {

inline std::vector<uint8_t> pack(uint64_t value, size_t nbits) {
    std::vector<uint8_t> bytes(bytes_for_bits(nbits) + 8, 0);
    for (size_t i = 0; i < nbits && i < 64; ++i) put_bit(bytes.data(), i, (value >> i) & 1);
    return bytes;
}

inline uint64_t unpack(const std::vector<uint8_t>& bytes, size_t nbits, size_t from = 0) {
    uint64_t v = 0;
    for (size_t i = 0; i < nbits && i < 64; ++i)
        v |= uint64_t{get_bit(bytes.data(), from + i)} << i;
    return v;
}

// Shift-DR/IR of nbits, leaving through Exit1 and Update to Run-Test/Idle.
inline std::vector<uint8_t> scan(TapChain& chain, TapState shift_state,
                                 const std::vector<uint8_t>& tdi, size_t nbits) {
    chain.go_to(TapState::RunTestIdle);
    chain.go_to(shift_state);
    std::vector<uint8_t> tdo(bytes_for_bits(nbits) + 1, 0);
    chain.shift(tdi.data(), tdo.data(), nbits, true);
    chain.go_to(TapState::RunTestIdle);
    return tdo;
}

inline uint64_t ir_scan(TapChain& chain, uint64_t instr, size_t nbits) {
    return unpack(scan(chain, TapState::ShiftIr, pack(instr, nbits), nbits), nbits);
}

inline uint64_t dr_scan(TapChain& chain, uint64_t value, size_t nbits) {
    return unpack(scan(chain, TapState::ShiftDr, pack(value, nbits), nbits), nbits);
}

// Length of the selected data register path: flush with zeros, send a single 1, see when it
// comes out. Returns 0 when it never does within max_len.
inline size_t dr_length(TapChain& chain, size_t max_len) {
    std::vector<uint8_t> tdi(bytes_for_bits(2 * max_len + 1), 0);
    put_bit(tdi.data(), max_len, true);
    const auto tdo = scan(chain, TapState::ShiftDr, tdi, 2 * max_len + 1);
    for (size_t i = max_len; i <= 2 * max_len; ++i)
        if (get_bit(tdo.data(), i)) return i - max_len;
    return 0;
}

}  // namespace vireo::sim::test
