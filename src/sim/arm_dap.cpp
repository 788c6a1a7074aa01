#include "sim/arm_dap.h"

namespace vireo::sim {
namespace {

constexpr int kAccessBits = 35;  // ABORT / DPACC / APACC scan: 32 data + 3 RnW/A or ACK
constexpr uint64_t kAckOkFault = 0b010;

}  // namespace

void ArmDap::dr_capture() {
    bypass_ = false;
    switch (instr_) {
        case kIdcodeInstr:
            reg_ = ShiftRegister(32);
            reg_.load(kIdcode);
            break;
        case kAbort:
        case kDpacc:
        case kApacc:
            // No debug port behind it: every access acknowledges OK with zero data.
            reg_ = ShiftRegister(kAccessBits);
            reg_.load(kAckOkFault);
            break;
        default:
            bypass_ = true;
            stage_ = false;
            break;
    }
}

void ArmDap::dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) {
    if (bypass_)
        delay_one_bit(tdi, tdo, nbits, stage_);
    else
        reg_.shift(tdi, tdo, nbits);
}

}  // namespace vireo::sim
