// A 7-series TAP whose CFG_OUT answers a scripted list of words, most significant bit first,
// one per Capture-DR: the status words a Write reads back can be any bit pattern. CFG_IN and
// every other instruction but IDCODE and USERCODE are a one-bit bypass stage.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "sim/bits.h"
#include "sim/tap_device.h"

namespace vireo::test {

class ScriptedFpga final : public sim::TapDevice {
public:
    ScriptedFpga(uint32_t idcode, std::deque<uint32_t> words)
        : idcode_(idcode), words_(std::move(words)) {}

    std::string name() const override { return "SCRIPTED"; }
    int ir_length() const override { return 6; }
    void reset() override { instruction_ = kIdcode; }
    uint64_t ir_capture() override { return 0b01; }
    void ir_update(uint64_t instruction) override { instruction_ = instruction; }

    void dr_capture() override {
        if (instruction_ == kIdcode || instruction_ == kUsercode) {
            reg_ = sim::ShiftRegister(32);
            reg_.load(instruction_ == kIdcode ? idcode_ : 0xFFFFFFFFu);
        } else if (instruction_ == kCfgOut) {
            const uint32_t word = words_.empty() ? 0 : words_.front();
            if (!words_.empty()) words_.pop_front();
            uint64_t reversed = 0;
            for (int i = 0; i < 32; ++i) reversed |= uint64_t{(word >> (31 - i)) & 1} << i;
            reg_ = sim::ShiftRegister(32);
            reg_.load(reversed);
        } else {
            reg_ = sim::ShiftRegister(1);
        }
    }
    void dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) override {
        reg_.shift(tdi, tdo, nbits);
    }
    void dr_update() override {}

private:
    static constexpr uint64_t kCfgOut = 0x04, kUsercode = 0x08, kIdcode = 0x09;
    uint32_t idcode_;
    std::deque<uint32_t> words_;
    uint64_t instruction_ = kIdcode;
    sim::ShiftRegister reg_{32};
};

}  // namespace vireo::test
