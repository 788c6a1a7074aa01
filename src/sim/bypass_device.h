// A fault model: a TAP without IDCODE. Test-Logic-Reset selects BYPASS, and so does every
// instruction; the data register is always the 1-bit bypass stage capturing 0.
#pragma once

#include "sim/bits.h"
#include "sim/tap_device.h"

namespace vireo::sim {

class BypassOnlyDevice final : public TapDevice {
  public:
    explicit BypassOnlyDevice(int ir_length = 8) : ir_length_(ir_length) {}

    std::string name() const override { return "BYPASS_ONLY"; }
    int ir_length() const override { return ir_length_; }
    void reset() override {}
    uint64_t ir_capture() override { return 0b01; }
    void ir_update(uint64_t) override {}
    void dr_capture() override { stage_ = false; }
    void dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) override {
        delay_one_bit(tdi, tdo, nbits, stage_);
    }
    void dr_update() override {}

  private:
    int ir_length_;
    bool stage_ = false;
};

}  // namespace vireo::sim
