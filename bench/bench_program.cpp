// Configuring each virtual board's FPGA with a full-size image, the way the command line does it
// (connect, Shutdown, Write, status read-back, disconnect), against the TCK cycles the
// configuration needed at the board's rate.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/host.h"
#include "app/session.h"
#include "board_figures.h"
#include "jtag/status.h"
#include "sim/bitgen.h"
#include "sim/board_presets.h"
#include "sim/xilinx_parts.h"
#include "support/null_ui.h"
#include "support/use_virtual_board.h"

namespace {

namespace fs = std::filesystem;
using vireo::bench::BoardMark;

void BM_Configure(benchmark::State& state, const vireo::sim::BoardPreset* preset) {
    const auto* part = vireo::sim::find_xilinx_part(preset->chain.back());
    const fs::path file =
        fs::temp_directory_path() / ("bench_" + std::to_string(getpid()) + ".bit");
    const auto bytes = vireo::sim::make_bit_file(*part, {}, "2026/12/07", "12:00:00");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));

    vireo::test::NullUi ui;
    // The database lives in the runnable layout beside the executables of the build.
    vireo::app::AppPaths paths{BENCH_BIN_DIR "/", BENCH_BIN_DIR "/sys/", ""};
    vireo::app::install_host(&ui, paths);
    vireo::bench::BoardFigures figures;
    for (auto _ : state) {
        state.PauseTiming();
        const auto board = vireo::test::use_virtual_board(preset->name);
        vireo::app::Session session(ui, paths);
        session.select_device(static_cast<int>(preset->chain.size()) - 1);
        const BoardMark from(*board);
        state.ResumeTiming();
        if (session.program_fpga(file.string()) != JTAG_OK) {
            state.SkipWithError("program failed");
            break;
        }
        figures.add(from, BoardMark(*board), static_cast<double>(board->chain().tck_hz()));
    }
    figures.report(state);
    state.counters["image_Mbit"] = static_cast<double>(bytes.size()) * 8 / 1e6;
    fs::remove(file);
}

const bool registered = [] {
    for (const vireo::sim::BoardPreset& preset : vireo::sim::board_presets()) {
        if (preset.chain.empty()) continue;  // a boot loader has no chain to configure
        benchmark::RegisterBenchmark(("Configure/" + preset.name).c_str(), BM_Configure, &preset)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
    }
    return true;
}();

}  // namespace
