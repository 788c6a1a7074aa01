// Modeled time of one board: what the hardware would have spent, not host time. Every TCK costs
// one period of the board's TCK rate; explicit waits add their nanoseconds.
#pragma once

#include <cstdint>

namespace vireo::sim {

class ModelClock {
  public:
    explicit ModelClock(uint64_t tck_hz) : hz_(tck_hz ? tck_hz : 1) {}

    uint64_t tck_hz() const { return hz_; }
    // Later TCKs run at the new rate; time already spent stays as it was.
    void set_tck_hz(uint64_t hz) {
        base_ns_ = now_ns();
        tcks_at_rate_ = 0;
        hz_ = hz ? hz : 1;
    }

    void add_tcks(uint64_t n) {
        tck_count_ += n;
        tcks_at_rate_ += n;
    }
    void add_ns(uint64_t ns) { base_ns_ += ns; }

    uint64_t tck_count() const { return tck_count_; }
    uint64_t now_ns() const {
        // Split so that tcks * 1e9 cannot overflow: the remainder is below hz_.
        const uint64_t whole = tcks_at_rate_ / hz_, rest = tcks_at_rate_ % hz_;
        return base_ns_ + whole * 1'000'000'000 + rest * 1'000'000'000 / hz_;
    }

  private:
    uint64_t hz_;
    uint64_t tck_count_ = 0;
    uint64_t tcks_at_rate_ = 0;  // TCKs since the last rate change
    uint64_t base_ns_ = 0;       // time up to the last rate change, plus waits
};

}  // namespace vireo::sim
