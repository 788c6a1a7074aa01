// A bridge design that keeps the documented framing: USER2 captures the descriptor and takes
// the header at Update-DR (bits 8-39 skip, 40-71 end of data); USER1 takes the data bits from
// skip to end and echoes each one a clock later, like a flash that returns what it got.
#pragma once

#include "sim/bits.h"
#include "sim/bscan.h"

namespace vireo::test {

class EchoBridge final : public sim::BscanUser {
  public:
    void capture(int user) override {
        if (user == 1) bits_.clear(), clock_ = 0;
        if (user != 2) return;
        std::vector<bool> cells(128, false);
        for (int i = 0; i < 128; ++i) cells[i] = ("NORVALE JSPI1.0"[i / 8] >> (i % 8)) & 1;
        control_.load(cells);
    }
    void shift(int user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) override {
        if (user == 2) return control_.shift(tdi, tdo, nbits);
        for (size_t i = 0; i < nbits; ++i, ++clock_) {
            sim::put_bit(tdo, i, inside(clock_ - 1) && bits_.back());
            if (inside(clock_)) bits_.push_back(sim::get_bit(tdi, i));
        }
    }
    void update(int user) override {
        if (user == 2) {
            skip_ = end_ = 0;
            for (int i = 0; i < 32; ++i) {
                skip_ |= int64_t{control_.cell(8 + i)} << i;
                end_ |= int64_t{control_.cell(40 + i)} << i;
            }
        } else if (!bits_.empty()) {
            std::vector<uint8_t> bytes(bits_.size() / 8, 0);
            for (size_t i = 0; i < bytes.size() * 8; ++i) bytes[i / 8] |= bits_[i] << (7 - i % 8);
            transactions.push_back(bytes);
        }
    }
    void reset() override { skip_ = end_ = 0; }

    std::vector<std::vector<uint8_t>> transactions;  // the bytes of each USER1 scan

  private:
    bool inside(int64_t clock) const { return clock >= skip_ && clock < end_; }

    sim::ShiftRegister control_{128};
    int64_t skip_ = 0, end_ = 0, clock_ = 0;
    std::vector<bool> bits_;
};

}  // namespace vireo::test
