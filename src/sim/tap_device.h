// One TAP on the virtual chain. The chain runs the shared TAP state machine and calls these
// hooks at the points where silicon acts; the instruction register itself lives in the chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/model_clock.h"

namespace vireo::sim {

class TapDevice {
  public:
    virtual ~TapDevice() = default;

    virtual std::string name() const = 0;
    virtual int ir_length() const = 0;  // 2..64

    // Test-Logic-Reset: select IDCODE (or BYPASS when the device has none).
    virtual void reset() = 0;
    // Value parallel-loaded into the instruction register at Capture-IR (bit 0 leaves first).
    virtual uint64_t ir_capture() = 0;
    // Update-IR: the new instruction (ir_length() bits).
    virtual void ir_update(uint64_t instruction) = 0;

    // The data register selected by the current instruction.
    virtual void dr_capture() = 0;
    // Shift-DR for nbits TCKs: tdo bit i is what the device drives before edge i, tdi bit i is
    // what it takes at edge i. Both packed LSB first; tdo bits past nbits are don't-care.
    virtual void dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) = 0;
    virtual void dr_update() = 0;

    // TCK edges spent in Run-Test/Idle.
    virtual void idle_clocks(uint64_t /*tcks*/) {}
    // Modeled time moved on; called before every action that follows the move.
    virtual void advance(uint64_t /*now_ns*/) {}
    // The chain's clock, given when the device joins it: during dr_shift its time is that of
    // the shift's first TCK.
    virtual void attach_clock(const ModelClock* /*clock*/) {}
};

}  // namespace vireo::sim
