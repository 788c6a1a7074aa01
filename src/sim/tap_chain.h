// A JTAG chain of virtual TAPs sharing TCK/TMS: device 0 is nearest TDI, the last one drives
// TDO. Offers bit-level clocking for firmware models and bulk calls for long shifts and idle
// runs, and keeps the board's modeled time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/model_clock.h"
#include "sim/tap_device.h"
#include "sim/tap_state.h"

namespace vireo::sim {

enum class TdoFault { None, StuckLow, StuckHigh };

class TapChain {
  public:
    explicit TapChain(uint64_t tck_hz = 30'000'000);
    ~TapChain();
    TapChain(const TapChain&) = delete;
    TapChain& operator=(const TapChain&) = delete;

    // Appends a device at the TDO end; it starts reset, like the whole chain at power-up.
    TapDevice& add(std::unique_ptr<TapDevice> device);
    size_t size() const { return devices_.size(); }
    TapDevice& device(size_t i) { return *devices_.at(i).dev; }
    // The nth device of type T (counted from TDI), or null.
    template <class T>
    T* find(size_t nth = 0) {
        for (auto& d : devices_)
            if (auto* t = dynamic_cast<T*>(d.dev.get()); t && nth-- == 0) return t;
        return nullptr;
    }
    int total_ir_length() const;

    TapState state() const { return state_; }

    // One TCK. Returns TDO as sampled at this rising edge: the chain's output bit in
    // Shift-DR/Shift-IR, 1 (released line, pull-up) in every other state.
    bool clock(bool tms, bool tdi);
    // nbits TCKs in Shift-DR or Shift-IR with TMS low, the last one with TMS high when
    // exit_on_last (ending in Exit1). TDI/TDO packed LSB first; tdo may be null, and bits past
    // nbits in its last byte are cleared. Outside the shift states it clocks bit by bit.
    void shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits, bool exit_on_last);
    // n TCKs with constant TMS/TDI; stable states (Run-Test/Idle, Test-Logic-Reset, Shift-*,
    // Pause-*) are run in bulk.
    void run_clocks(uint64_t n, bool tms = false, bool tdi = false);
    // Walks the shortest TMS path to the target; Test-Logic-Reset is always reached with five
    // TMS-high clocks.
    void go_to(TapState target);
    // Time passing without TCK (host sleeps, USB latency).
    void wait_ns(uint64_t ns);

    uint64_t tck_hz() const { return clock_.tck_hz(); }
    void set_tck_hz(uint64_t hz) { clock_.set_tck_hz(hz); }
    uint64_t tck_count() const { return clock_.tck_count(); }
    uint64_t now_ns() const { return clock_.now_ns(); }

    void set_tdo_fault(TdoFault f) { fault_ = f; }
    TdoFault tdo_fault() const { return fault_; }

  private:
    struct Slot {
        std::unique_ptr<TapDevice> dev;
        uint64_t ir = 0;  // the device's instruction shift register
        int ir_len = 0;
    };

    void sync_devices();
    void enter_state(TapState prev);
    bool shift_dr_bit(bool tdi);
    bool shift_ir_bit(bool tdi);
    void shift_dr_bulk(const uint8_t* tdi, uint8_t* tdo, size_t nbits);
    void apply_fault(uint8_t* tdo, size_t nbits) const;
    bool apply_fault(bool tdo) const;

    std::vector<Slot> devices_;
    TapState state_ = TapState::TestLogicReset;
    ModelClock clock_;
    uint64_t synced_ns_ = 0;
    TdoFault fault_ = TdoFault::None;
    std::vector<uint8_t> scratch_[2];
};

}  // namespace vireo::sim
