// kprbemb over the virtual USB 2.0 cables: long captured shifts and TDI-only run-test streams
// (the way bitstreams go out), in 16384-bit pieces, with protocol 1 (keenprobe) and protocol 2
// (keenprobe-c). Reports host CPU time per megabit next to what crossed the virtual USB link and
// the time the hardware would have taken.
#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

#include "cables/cable.h"
#include "cables/usb_drivers.h"
#include "jtag/tap.h"
#include "support/use_virtual_board.h"

namespace {

constexpr int kPiece = 16384;
constexpr int kPieces = 128;  // 2 Mbit per iteration

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_Kprbemb(benchmark::State& state, const char* preset, bool capture) {
    cables_register_usb_drivers();
    const std::shared_ptr<vireo::sim::VirtualBoard> board = vireo::test::use_virtual_board(preset);
    Cable* cable = cable_new("", "kprbemb", "");
    if (!board || !cable) {
        state.SkipWithError("no cable");
        return;
    }
    std::vector<uint8_t> tdi(kPiece), mask(kPiece, 1), tdo(kPiece);
    for (int i = 0; i < kPiece; ++i) tdi[i] = (i * 7 + i / 5) % 3 == 0;
    if (cable_tap_goto(cable, TEST_LOGIC_RESET, 1) != 1) state.SkipWithError("TAP walk failed");
    board->reset_counters();
    const uint64_t model_start = board->chain().now_ns();
    const double cpu_start = cpu_seconds();
    for (auto _ : state) {
        for (int p = 0; p < kPieces; ++p) {
            const int ok =
                capture ? (cable_tap_goto(cable, SHIFT_DR, 0) == 1
                               ? cable_shift_inout(cable, kPiece, tdi.data(), mask.data(), nullptr,
                                                   nullptr, tdo.data(), 2, 0, "", 1)
                               : 0)
                        : cable_runtest(cable, SHIFT_DR, 0, kPiece, "", 0, tdi.data(), nullptr);
            if (ok != 1) state.SkipWithError("transfer failed");
        }
        if (cable_tap_goto(cable, RUNTEST_IDLE, 1) != 1) state.SkipWithError("TAP walk failed");
        benchmark::DoNotOptimize(tdo.data());
    }
    const double iterations = static_cast<double>(state.iterations());
    const double mbit = iterations * kPiece * kPieces / 1e6;
    const auto& usb = board->counters();
    state.counters["cpu_ms_per_Mbit"] = (cpu_seconds() - cpu_start) * 1e3 / mbit;
    state.counters["transfers_per_Mbit"] = static_cast<double>(usb.transfers) / mbit;
    state.counters["bytes_out_per_Mbit"] = static_cast<double>(usb.bytes_out) / mbit;
    state.counters["bytes_in_per_Mbit"] = static_cast<double>(usb.bytes_in) / mbit;
    state.counters["model_ms_per_Mbit"] =
        static_cast<double>(board->chain().now_ns() - model_start) / 1e6 / mbit;
    state.counters["Mbit"] =
        benchmark::Counter(kPiece * kPieces / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    cable_free(cable);
    vireo::test::use_virtual_board("");
}

BENCHMARK_CAPTURE(BM_Kprbemb, shift_capture_protocol1, "keenprobe", true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Kprbemb, shift_capture_protocol2, "keenprobe-c", true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Kprbemb, runtest_tdi_protocol1, "keenprobe", false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Kprbemb, runtest_tdi_protocol2, "keenprobe-c", false)
    ->Unit(benchmark::kMillisecond);

}  // namespace
