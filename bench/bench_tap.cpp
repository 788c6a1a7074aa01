// Cost of turning TAP walks into TMS sequences, as every cable driver does on each goto.
#include <benchmark/benchmark.h>

#include "jtag/tap.h"

namespace {

void BM_TapWalkAllPairs(benchmark::State& state) {
    uint8_t tms[kTapWalkLimit];
    int64_t clocks = 0;
    for (auto _ : state) {
        for (unsigned from = 0; from <= UNKNOWN5; ++from) {
            for (unsigned to = 0; to <= UPDATE_IR; ++to) {
                unsigned current = from;
                clocks += tap_walk(&current, to, tms);
            }
        }
        benchmark::DoNotOptimize(tms);
    }
    state.SetItemsProcessed(state.iterations() * 21 * 16);
    state.counters["tms_clocks"] =
        benchmark::Counter(static_cast<double>(clocks), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TapWalkAllPairs);

}  // namespace
