// What one operation cost on a virtual board, in the figures every benchmark of the summary
// table reports: modeled hardware time against its physical bound, the host CPU time of the
// programmer apart from the board's own models, and the USB transfers.
#pragma once

#include <benchmark/benchmark.h>

#include <ctime>

#include "sim/virtual_board.h"

namespace vireo::bench {

inline double process_cpu_s() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A snapshot of the board's clock, counters and the process's CPU time.
struct BoardMark {
    explicit BoardMark(sim::VirtualBoard& board)
        : model_ns(board.chain().now_ns()),
          tcks(board.chain().tck_count()),
          transfers(board.counters().transfers),
          model_cpu_ns(board.counters().model_cpu_ns),
          cpu_s(process_cpu_s()) {}
    uint64_t model_ns, tcks, transfers, model_cpu_ns;
    double cpu_s;
};

// Sums of the runs between two marks; bound_s is what the physics allows for each run (given,
// or the TCK cycles the run clocked at the board's rate).
class BoardFigures {
  public:
    void add(const BoardMark& from, const BoardMark& to, double tck_hz, double bound_s = -1) {
        const double model = static_cast<double>(to.model_ns - from.model_ns) / 1e9;
        const double board_cpu = static_cast<double>(to.model_cpu_ns - from.model_cpu_ns) / 1e9;
        model_s_ += model;
        bound_s_ += bound_s >= 0 ? bound_s : static_cast<double>(to.tcks - from.tcks) / tck_hz;
        host_cpu_s_ += to.cpu_s - from.cpu_s - board_cpu;
        board_cpu_s_ += board_cpu;
        transfers_ += static_cast<double>(to.transfers - from.transfers);
        ++runs_;
    }
    // Figures per run, or per `per` operations when one run made many (e.g. shifts).
    void report(benchmark::State& state, double per = 0) const {
        if (runs_ == 0) return;
        const double n = per > 0 ? per : runs_;
        state.counters["model_s"] = model_s_ / n;
        state.counters["bound_s"] = bound_s_ / n;
        state.counters["ratio"] = bound_s_ > 0 ? model_s_ / bound_s_ : 0;
        state.counters["host_cpu_s"] = host_cpu_s_ / n;
        state.counters["host_cpu_pct"] = model_s_ > 0 ? 100 * host_cpu_s_ / model_s_ : 0;
        state.counters["board_cpu_s"] = board_cpu_s_ / n;
        state.counters["usb_transfers"] = transfers_ / n;
    }

  private:
    double model_s_ = 0, bound_s_ = 0, host_cpu_s_ = 0, board_cpu_s_ = 0, transfers_ = 0;
    int runs_ = 0;
};

}  // namespace vireo::bench
