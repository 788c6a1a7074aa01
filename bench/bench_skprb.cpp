// skprb over the virtual FX3 boards: long shifts and TDI-only run-test streams in 16384-bit
// pieces. Reports host CPU time, USB transfers, bytes on the wire and the board's modeled
// hardware time, each per megabit.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <vector>

#include "cables/cable.h"
#include "cables/usb_drivers.h"
#include "jtag/msg.h"
#include "jtag/tap.h"
#include "support/use_virtual_board.h"

namespace {

using vireo::sim::VirtualBoard;

constexpr int kPieceBits = 16384;
constexpr int kPiecesPerIteration = 512;  // 8 Mbit

enum class Stream { WriteOnlyShift, CaptureShift, TdiRuntest };

int quiet(const char*, va_list) {
    return 0;
}

void BM_Skprb(benchmark::State& state, const char* preset, Stream kind) {
    set_print_callback(quiet);
    cables_register_usb_drivers();
    const std::shared_ptr<VirtualBoard> board = vireo::test::use_virtual_board(preset);
    Cable* cable = board ? cable_new("", "skprb", "") : nullptr;
    if (!cable) {
        state.SkipWithError("no virtual board");
        return;
    }
    if (cable_tap_goto(cable, TEST_LOGIC_RESET, 1) != 1) state.SkipWithError("TAP walk failed");
    if (cable_tap_goto(cable, SHIFT_DR, 1) != 1) state.SkipWithError("TAP walk failed");
    std::vector<uint8_t> tdi(kPieceBits), mask(kPieceBits, 1), capture(kPieceBits);
    for (int i = 0; i < kPieceBits; ++i) tdi[i] = (i * 7 + i / 3) % 5 < 2;

    board->reset_counters();
    const uint64_t model_start = board->chain().now_ns();
    uint64_t bits = 0;
    for (auto _ : state) {
        for (int p = 0; p < kPiecesPerIteration; ++p) {
            int rc = 0;
            switch (kind) {
                case Stream::WriteOnlyShift:
                    // Batched: each piece ends in Exit1-DR, the walk back to Shift-DR is queued.
                    rc = cable_shift_inout(cable, kPieceBits, tdi.data(), mask.data(), nullptr,
                                           nullptr, capture.data(), 2, 1, "", 0);
                    if (rc == 1) rc = cable_tap_goto(cable, SHIFT_DR, 0);
                    break;
                case Stream::CaptureShift:
                    rc = cable_shift_inout(cable, kPieceBits, tdi.data(), mask.data(), nullptr,
                                           nullptr, capture.data(), 2, 0, "", 1);
                    if (rc == 1) rc = cable_tap_goto(cable, SHIFT_DR, 0);
                    break;
                case Stream::TdiRuntest:
                    rc = cable_runtest(cable, UNKNOWN, 0, kPieceBits, "", 1, tdi.data(), nullptr);
                    break;
            }
            if (rc != 1) state.SkipWithError("transfer failed");
        }
        bits += uint64_t{kPieceBits} * kPiecesPerIteration;
    }
    if (cable_tap_goto(cable, RUNTEST_IDLE, 1) != 1) state.SkipWithError("TAP walk failed");

    const double mbit = static_cast<double>(bits) / 1e6;
    const auto& usb = board->counters();
    state.counters["cpu_s_per_Mbit"] =
        benchmark::Counter(mbit, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["transfers_per_Mbit"] = static_cast<double>(usb.transfers) / mbit;
    state.counters["wire_bytes_per_Mbit"] =
        static_cast<double>(usb.bytes_out + usb.bytes_in) / mbit;
    state.counters["model_ms_per_Mbit"] =
        static_cast<double>(board->chain().now_ns() - model_start) / 1e6 / mbit;
    cable_free(cable);
    vireo::test::use_virtual_board("");
}

BENCHMARK_CAPTURE(BM_Skprb, kb2203_write_only_shift, "kb2203", Stream::WriteOnlyShift)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Skprb, kb2204_write_only_shift, "kb2204", Stream::WriteOnlyShift)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Skprb, kb2203_capture_shift, "kb2203", Stream::CaptureShift)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Skprb, kb2204_capture_shift, "kb2204", Stream::CaptureShift)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Skprb, kb2203_tdi_runtest, "kb2203", Stream::TdiRuntest)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Skprb, kb2204_tdi_runtest, "kb2204", Stream::TdiRuntest)
    ->Unit(benchmark::kMillisecond);

}  // namespace
