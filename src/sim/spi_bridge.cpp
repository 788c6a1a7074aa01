#include "sim/spi_bridge.h"

namespace vireo::sim {
namespace {

constexpr char kDescriptor[16] = "NORVALE JSPI1.0";

}  // namespace

SpiBridge::SpiBridge(std::shared_ptr<SpiFlash> flash) : flash_(std::move(flash)) {}

void SpiBridge::capture(int user) {
    if (user == 2) {
        std::vector<bool> cells(128, false);
        for (size_t i = 0; i < 128; ++i) cells[i] = (kDescriptor[i / 8] >> (i % 8)) & 1;
        control_.load(cells);
    } else if (user == 1) {
        end_transaction();
        clock_ = 0;
        miso_ = false;
    }
}

void SpiBridge::shift(int user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) {
    if (user == 2) return control_.shift(tdi, tdo, nbits);
    if (user != 1) return delay_one_bit(tdi, tdo, nbits, miso_);
    for (size_t i = 0; i < nbits; ++i, ++clock_) {
        put_bit(tdo, i, miso_);
        if (clock_ < skip_ || clock_ >= end_) {
            miso_ = false;
            continue;
        }
        if (!selected_) {
            flash_->select();
            selected_ = true;
            bit_ = 0;
        }
        if (bit_ == 0) out_ = flash_->output(), in_ = 0;
        miso_ = (out_ >> (7 - bit_)) & 1;
        in_ = static_cast<uint8_t>(in_ << 1 | (get_bit(tdi, i) ? 1 : 0));
        if (++bit_ == 8) flash_->input(in_), bit_ = 0;
        if (clock_ + 1 == end_) end_transaction();
    }
}

void SpiBridge::update(int user) {
    if (user == 2) {
        const uint64_t low = control_.value();
        skip_ = (low >> 8) & 0xFFFFFFFF;
        // Bits 40-71 straddle the first 64-bit word of the register.
        end_ = 0;
        for (size_t i = 0; i < 32; ++i) end_ |= uint64_t{control_.cell(40 + i)} << i;
    } else if (user == 1) {
        end_transaction();
    }
}

void SpiBridge::end_transaction() {
    if (!selected_) return;
    flash_->deselect(bit_ == 0);
    selected_ = false;
    bit_ = 0;
}

}  // namespace vireo::sim
