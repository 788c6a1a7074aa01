// A bridge design for the virtual FPGA that keeps the documented framing: USER2 captures the
// descriptor and takes the 128-bit header at Update-DR (bits 8-39 skip, 40-71 end of data);
// USER1 takes the data bits between skip and end, most significant bit of each byte first, and
// echoes each one on the following clock (MISO of an SPI device that returns what it got).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/bits.h"
#include "sim/bscan.h"

namespace vireo::test {

class EchoBridge final : public sim::BscanUser {
public:
    static constexpr char kDescriptor[] = "NORVALE JSPI1.0";  // with its NUL: 16 bytes

    void capture(int user) override {
        if (user == 2) {
            std::vector<bool> cells(128, false);
            for (int i = 0; i < 16; ++i) {
                for (int b = 0; b < 8; ++b) cells[8 * i + b] = (kDescriptor[i] >> b) & 1;
            }
            control_ = sim::ShiftRegister(128);
            control_.load(cells);
        } else if (user == 1) {
            clock_ = 0;
            bits_.clear();
        }
    }

    void shift(int user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) override {
        if (user == 2) {
            control_.shift(tdi, tdo, nbits);
            return;
        }
        if (user != 1) return;
        for (size_t i = 0; i < nbits; ++i, ++clock_) {
            const bool echo = in_window(clock_ - 1) && !bits_.empty() && bits_.back();
            sim::put_bit(tdo, i, echo);
            if (in_window(clock_)) bits_.push_back(sim::get_bit(tdi, i));
        }
    }

    void update(int user) override {
        if (user == 2) {
            const std::vector<bool> cells = control_.cells();
            skip_ = word(cells, 8);
            end_ = word(cells, 40);
        } else if (user == 1 && !bits_.empty()) {
            std::vector<uint8_t> bytes(bits_.size() / 8, 0);
            for (size_t i = 0; i < bytes.size() * 8; ++i) {
                if (bits_[i]) bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
            }
            transactions.push_back(bytes);
        }
    }

    void reset() override { skip_ = end_ = 0; }

    std::vector<std::vector<uint8_t>> transactions;  // the bytes of each USER1 scan

private:
    static int64_t word(const std::vector<bool>& cells, int from) {
        int64_t value = 0;
        for (int i = 0; i < 32; ++i) value |= int64_t{cells[from + i]} << i;
        return value;
    }
    bool in_window(int64_t clock) const { return clock >= skip_ && clock < end_; }

    sim::ShiftRegister control_{128};
    int64_t skip_ = 0;
    int64_t end_ = 0;
    int64_t clock_ = 0;
    std::vector<bool> bits_;
};

}  // namespace vireo::test
