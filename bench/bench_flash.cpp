// Up to 16 MB (the flash's size when smaller) programmed into each virtual board's configuration
// flash and verified, the way `vireo flash program` does it: the FPGA already runs the SPI bridge,
// every sector erased, every page programmed, every byte read back. The physical bound is the
// flash's own: its typical sector-erase and page-program times plus the time the data takes to
// cross the JTAG wire twice at the board's TCK (out to be programmed, back to be verified).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "app/host.h"
#include "app/session.h"
#include "board_figures.h"
#include "jtag/status.h"
#include "sim/board_presets.h"
#include "sim/spi_flash.h"
#include "support/null_ui.h"
#include "support/use_virtual_board.h"

namespace {

namespace fs = std::filesystem;
using vireo::bench::BoardMark;

constexpr uint32_t kImageBytes = 16u << 20;

// VIREO_BENCH_FLASH_KB shortens the image for quick comparisons.
uint32_t image_bytes() {
    const char* kb = std::getenv("VIREO_BENCH_FLASH_KB");
    return kb && std::atoi(kb) > 0 ? static_cast<uint32_t>(std::atoi(kb)) * 1024 : kImageBytes;
}

// Marks the board when the result is shown: after the verify, before the restart that boots the
// FPGA from the flash.
class ResultMark : public vireo::test::NullUi {
  public:
    explicit ResultMark(vireo::sim::VirtualBoard& board) : board_(board) {}
    void show_result(const std::string&, int) override { mark.emplace(board_); }
    std::optional<BoardMark> mark;

  private:
    vireo::sim::VirtualBoard& board_;
};

// The data sheet's time for programming `bytes` from address 0: typical erases of the sectors
// it covers, typical page programs (SST: per two-byte word; AT45: its page erase-and-program),
// its bits twice at TCK.
double flash_bound_s(const vireo::sim::FlashPart& part, uint32_t bytes, double tck_hz) {
    using vireo::sim::FlashFamily;
    const bool at45 = part.family == FlashFamily::At45;
    const double unit = part.family == FlashFamily::Sst ? 2 : at45 ? part.sector : 256;
    const double sectors = at45 ? 0 : std::ceil(static_cast<double>(bytes) / part.sector);
    const double units = std::ceil(static_cast<double>(bytes) / unit);
    return (sectors * static_cast<double>(part.sector_ns) +
            units * static_cast<double>(part.page_ns)) /
               1e9 +
           2 * static_cast<double>(bytes) * 8 / tck_hz;
}

// Each run: a fresh board of the preset, its SPI ROM reached, then `command` timed up to the
// result's mark; bound_s(tck) is what physics allows for it.
void run_flash_command(benchmark::State& state, const vireo::sim::BoardPreset* preset,
                       const std::function<int(vireo::app::Session&)>& command,
                       const std::function<double(double)>& bound_s) {
    const vireo::app::AppPaths paths{BENCH_BIN_DIR "/", BENCH_BIN_DIR "/sys/", ""};
    vireo::bench::BoardFigures figures;
    for (auto _ : state) {
        state.PauseTiming();
        const auto board = vireo::test::use_virtual_board(preset->name);
        ResultMark ui(*board);
        vireo::app::install_host(&ui, paths);
        vireo::app::Session session(ui, paths);
        session.select_device(static_cast<int>(preset->chain.size()) - 1);
        if (session.set_target(vireo::app::Target::SpiRom) != JTAG_OK) {
            state.SkipWithError("no SPI ROM");
            break;
        }
        const BoardMark from(*board);
        state.ResumeTiming();
        if (command(session) != JTAG_OK || !ui.mark) {
            state.SkipWithError("the flash command failed");
            break;
        }
        const double tck = static_cast<double>(board->chain().tck_hz());
        figures.add(from, *ui.mark, tck, bound_s(tck));
    }
    figures.report(state);
}

void BM_FlashProgram(benchmark::State& state, const vireo::sim::BoardPreset* preset) {
    const vireo::sim::FlashPart& part = *vireo::sim::find_flash_part(preset->flash);
    const uint32_t bytes = std::min(image_bytes(), part.size);
    const fs::path file =
        fs::temp_directory_path() / ("bench_flash_" + std::to_string(getpid()) + ".bin");
    std::vector<char> image(bytes);
    std::mt19937 random(2026);
    for (char& byte : image) byte = static_cast<char>(random());
    std::ofstream(file, std::ios::binary).write(image.data(), std::ssize(image));
    run_flash_command(
        state, preset,
        [&](vireo::app::Session& session) {
            return session.flash_program(file.string(), 0, false, true);
        },
        [&](double tck) { return flash_bound_s(part, bytes, tck); });
    state.counters["image_MB"] = static_cast<double>(bytes) / (1 << 20);
    state.counters["transfers_per_page"] =
        state.counters["usb_transfers"] / std::ceil(static_cast<double>(bytes) / 256);
    fs::remove(file);
}

// The whole flash read back into a file, against the time its bits take to cross the wire.
void BM_FlashRead(benchmark::State& state, const vireo::sim::BoardPreset* preset) {
    const vireo::sim::FlashPart& part = *vireo::sim::find_flash_part(preset->flash);
    const fs::path file =
        fs::temp_directory_path() / ("bench_flash_read_" + std::to_string(getpid()) + ".bin");
    run_flash_command(
        state, preset,
        [&](vireo::app::Session& session) { return session.flash_read(file.string(), 0, true); },
        [&](double tck) { return static_cast<double>(part.size) * 8 / tck; });
    fs::remove(file);
}

const bool registered = [] {
    for (const vireo::sim::BoardPreset& preset : vireo::sim::board_presets()) {
        if (preset.chain.empty() || preset.flash.empty()) continue;
        benchmark::RegisterBenchmark(("FlashProgram/" + preset.name).c_str(), BM_FlashProgram,
                                     &preset)
            ->Unit(benchmark::kSecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark(("FlashRead/" + preset.name).c_str(), BM_FlashRead, &preset)
            ->Unit(benchmark::kSecond)
            ->Iterations(1);
    }
    return true;
}();

}  // namespace
