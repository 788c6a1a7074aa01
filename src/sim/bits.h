// Packed bit streams as they travel along the JTAG chain: bit i of a stream is bit i%8 of byte
// i/8 (LSB first), the first bit on the wire being bit 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo::sim {

inline size_t bytes_for_bits(size_t nbits) {
    return (nbits + 7) / 8;
}

inline bool get_bit(const uint8_t* p, size_t i) {
    return (p[i / 8] >> (i % 8)) & 1u;
}

inline void put_bit(uint8_t* p, size_t i, bool v) {
    const uint8_t mask = static_cast<uint8_t>(1u << (i % 8));
    p[i / 8] = v ? static_cast<uint8_t>(p[i / 8] | mask) : static_cast<uint8_t>(p[i / 8] & ~mask);
}

// Clears the bits past nbits in the last byte of a stream.
void clear_tail_bits(uint8_t* p, size_t nbits);

// A one-bit delay stage (BYPASS and friends): out[0] = stage, out[i] = in[i-1], and the stage
// keeps in[nbits-1] afterwards. Works on 64-bit words, so long streams pass quickly.
void delay_one_bit(const uint8_t* in, uint8_t* out, size_t nbits, bool& stage);

// A data register of fixed length. Cell 0 sits at TDO; each shift moves the cells one place
// towards TDO and takes the TDI bit into the last cell.
class ShiftRegister {
  public:
    explicit ShiftRegister(size_t length = 1);

    size_t length() const { return cells_.size(); }
    // Parallel load: cell j gets bit j of value (cells past 64 get 0).
    void load(uint64_t value);
    void load(const std::vector<bool>& cells);
    bool cell(size_t j) const { return cells_[(head_ + j) % cells_.size()] != 0; }
    // Cells 0..63 as a number (cell j is bit j).
    uint64_t value() const;
    std::vector<bool> cells() const;

    void shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits);

  private:
    std::vector<uint8_t> cells_;  // ring buffer; cell 0 is at head_
    size_t head_ = 0;
};

}  // namespace vireo::sim
