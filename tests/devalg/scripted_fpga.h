// A 7-series TAP whose CFG_OUT answers scripted words, most significant bit first, one per
// Capture-DR, so that a Write reads back any status pattern. Apart from IDCODE and USERCODE
// every instruction selects a one-bit stage.
#pragma once

#include <deque>

#include "sim/bits.h"
#include "sim/tap_device.h"

namespace vireo::test {

class ScriptedFpga final : public sim::TapDevice {
  public:
    ScriptedFpga(uint32_t idcode, std::deque<uint32_t> words) : idcode_(idcode), words_(words) {}

    std::string name() const override { return "SCRIPTED"; }
    int ir_length() const override { return 6; }
    void reset() override { instruction_ = 0x09; }
    uint64_t ir_capture() override { return 0b01; }
    void ir_update(uint64_t instruction) override { instruction_ = instruction; }
    void dr_capture() override {
        reg_ = sim::ShiftRegister(
            instruction_ == 0x04 || instruction_ == 0x08 || instruction_ == 0x09 ? 32 : 1);
        if (instruction_ == 0x09) reg_.load(idcode_);
        if (instruction_ == 0x08) reg_.load(0xFFFFFFFFu);
        if (instruction_ == 0x04 && !words_.empty()) {
            uint64_t reversed = 0;
            for (int i = 0; i < 32; ++i)
                reversed |= uint64_t{(words_.front() >> (31 - i)) & 1} << i;
            reg_.load(reversed);
            words_.pop_front();
        }
    }
    void dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) override {
        reg_.shift(tdi, tdo, nbits);
    }
    void dr_update() override {}

  private:
    uint32_t idcode_;
    std::deque<uint32_t> words_;
    uint64_t instruction_ = 0x09;
    sim::ShiftRegister reg_{32};
};

}  // namespace vireo::test
