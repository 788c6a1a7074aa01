// The ARM JTAG-DP of a Zynq-7000, the TAP that sits before the PL on TDI's side.
#pragma once

#include "sim/bits.h"
#include "sim/tap_device.h"

namespace vireo::sim {

class ArmDap final : public TapDevice {
  public:
    static constexpr uint32_t kIdcode = 0x4BA00477;
    static constexpr uint8_t kAbort = 0b1000, kDpacc = 0b1010, kApacc = 0b1011;
    static constexpr uint8_t kIdcodeInstr = 0b1110, kBypass = 0b1111;

    std::string name() const override { return "ARM_DAP"; }
    int ir_length() const override { return 4; }
    void reset() override { instr_ = kIdcodeInstr; }
    uint64_t ir_capture() override { return 0b0001; }
    void ir_update(uint64_t instruction) override { instr_ = static_cast<uint8_t>(instruction); }
    void dr_capture() override;
    void dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) override;
    void dr_update() override {}

    uint8_t instruction() const { return instr_; }

  private:
    uint8_t instr_ = kIdcodeInstr;
    ShiftRegister reg_{32};
    bool bypass_ = true;
    bool stage_ = false;
};

}  // namespace vireo::sim
