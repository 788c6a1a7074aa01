#include "sim/bits.h"

#include <bit>
#include <cstring>

namespace vireo::sim {

void clear_tail_bits(uint8_t* p, size_t nbits) {
    if (nbits % 8) p[nbits / 8] &= static_cast<uint8_t>((1u << (nbits % 8)) - 1);
}

namespace {

uint64_t load_word(const uint8_t* p, size_t nbytes) {
    uint8_t b[8] = {};
    std::memcpy(b, p, nbytes);
    uint64_t w = 0;
    for (int i = 7; i >= 0; --i) w = (w << 8) | b[i];
    return w;
}

void store_word(uint8_t* p, size_t nbytes, uint64_t w) {
    for (size_t i = 0; i < nbytes; ++i) p[i] = static_cast<uint8_t>(w >> (8 * i));
}

}  // namespace

void delay_one_bit(const uint8_t* in, uint8_t* out, size_t nbits, bool& stage) {
    if (nbits == 0) return;
    const bool last = get_bit(in, nbits - 1);
    uint64_t carry = stage ? 1 : 0;
    const size_t nbytes = bytes_for_bits(nbits);
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= nbytes; i += 8) {
            uint64_t w;
            std::memcpy(&w, in + i, 8);
            const uint64_t o = (w << 1) | carry;
            carry = w >> 63;
            std::memcpy(out + i, &o, 8);
        }
    }
    for (; i < nbytes; i += 8) {
        const size_t n = nbytes - i < 8 ? nbytes - i : 8;
        const uint64_t w = load_word(in + i, n);
        store_word(out + i, n, (w << 1) | carry);
        carry = w >> 63;
    }
    stage = last;
}

ShiftRegister::ShiftRegister(size_t length) : cells_(length ? length : 1, 0) {}

void ShiftRegister::load(uint64_t value) {
    head_ = 0;
    for (size_t j = 0; j < cells_.size(); ++j) cells_[j] = j < 64 ? (value >> j) & 1 : 0;
}

void ShiftRegister::load(const std::vector<bool>& cells) {
    head_ = 0;
    for (size_t j = 0; j < cells_.size(); ++j) cells_[j] = j < cells.size() && cells[j];
}

uint64_t ShiftRegister::value() const {
    uint64_t v = 0;
    for (size_t j = 0; j < cells_.size() && j < 64; ++j) v |= uint64_t{cell(j)} << j;
    return v;
}

std::vector<bool> ShiftRegister::cells() const {
    std::vector<bool> out(cells_.size());
    for (size_t j = 0; j < cells_.size(); ++j) out[j] = cell(j);
    return out;
}

void ShiftRegister::shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) {
    const size_t len = cells_.size();
    for (size_t i = 0; i < nbits; ++i) {
        // The cell leaving at TDO frees the slot that becomes the last cell.
        put_bit(tdo, i, cells_[head_] != 0);
        cells_[head_] = get_bit(tdi, i);
        head_ = head_ + 1 == len ? 0 : head_ + 1;
    }
}

}  // namespace vireo::sim
