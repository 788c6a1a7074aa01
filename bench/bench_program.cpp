// Programming an XC7A100T with a full-size image on the virtual FX3 board (kb2203), the way the
// command line does it: connect, Shutdown, Write, status read-back, disconnect.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/host.h"
#include "app/session.h"
#include "jtag/status.h"
#include "null_ui.h"
#include "sim/bitgen.h"
#include "sim/xilinx_parts.h"
#include "support/use_virtual_board.h"

namespace {

using vireo::bench::NullUi;

void BM_ProgramXc7a100t(benchmark::State& state) {
    namespace fs = std::filesystem;
    const auto* part = vireo::sim::find_xilinx_part("XC7A100T");
    const fs::path file =
        fs::temp_directory_path() / ("bench_" + std::to_string(getpid()) + ".bit");
    const auto bytes = vireo::sim::make_bit_file(*part, {}, "2026/12/07", "12:00:00");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));

    NullUi ui;
    // The database lives in the runnable layout beside the executables of the build.
    vireo::app::AppPaths paths{BENCH_BIN_DIR "/", BENCH_BIN_DIR "/sys/"};
    vireo::app::install_host(&ui, paths);
    uint64_t transfers = 0, bytes_out = 0, bytes_in = 0, model_ns = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::shared_ptr<vireo::sim::VirtualBoard> board =
            vireo::test::use_virtual_board("kb2203");
        vireo::app::Session session(ui, paths);
        state.ResumeTiming();
        if (session.program_fpga(file.string()) != JTAG_OK) state.SkipWithError("program failed");
        transfers += board->counters().transfers;
        bytes_out += board->counters().bytes_out;
        bytes_in += board->counters().bytes_in;
        model_ns += board->chain().now_ns();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["usb_transfers"] = transfers / n;
    state.counters["MB_out"] = bytes_out / n / 1e6;
    state.counters["bytes_in"] = bytes_in / n;
    state.counters["model_s"] = model_ns / n / 1e9;
    state.counters["image_Mbit"] = bytes.size() * 8 / 1e6;
    fs::remove(file);
}
BENCHMARK(BM_ProgramXc7a100t)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace
