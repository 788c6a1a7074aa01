// A 16 MB image programmed into the N25Q128 of the virtual FX3 board (kb2203) and verified, the
// way `vireo flash program` does it: the FPGA already runs the SPI bridge, every sector erased,
// every page programmed, every byte read back. The figures set the modeled hardware time against
// the flash's own limit: its typical sector-erase and page-program times plus the time the data
// takes to cross the JTAG wire once at the board's TCK.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/host.h"
#include "app/session.h"
#include "jtag/status.h"
#include "null_ui.h"
#include "sim/spi_flash.h"
#include "support/use_virtual_board.h"

namespace {

namespace fs = std::filesystem;

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Notes the board's clock, USB counters and the CPU time when the result is shown: after the
// verify, before the restart that boots the FPGA from the flash.
class ResultClock : public vireo::bench::NullUi {
  public:
    explicit ResultClock(vireo::sim::VirtualBoard& board) : board_(board) {}
    void show_result(const std::string&, int) override {
        model_ns = board_.chain().now_ns();
        transfers = board_.counters().transfers;
        cpu = cpu_seconds();
    }
    uint64_t model_ns = 0, transfers = 0;
    double cpu = 0;

  private:
    vireo::sim::VirtualBoard& board_;
};

void BM_FlashProgramVerify16MB(benchmark::State& state) {
    const fs::path file =
        fs::temp_directory_path() / ("bench_flash_" + std::to_string(getpid()) + ".bin");
    std::vector<char> image(16u << 20);
    std::mt19937 random(2026);
    for (char& byte : image) byte = static_cast<char>(random());
    std::ofstream(file, std::ios::binary).write(image.data(), std::ssize(image));

    const vireo::app::AppPaths paths{BENCH_BIN_DIR "/", BENCH_BIN_DIR "/sys/"};
    double model_s = 0, limit_s = 0, cpu_s = 0, transfers = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::shared_ptr<vireo::sim::VirtualBoard> board =
            vireo::test::use_virtual_board("kb2203");
        ResultClock ui(*board);
        vireo::app::install_host(&ui, paths);
        vireo::app::Session session(ui, paths);
        if (session.set_target(vireo::app::Target::SpiRom) != JTAG_OK) {
            state.SkipWithError("no SPI ROM");
            break;
        }
        const uint64_t start_ns = board->chain().now_ns();
        const uint64_t start_transfers = board->counters().transfers;
        const double start_cpu = cpu_seconds();
        state.ResumeTiming();
        if (session.flash_program(file.string(), 0, false, true) != JTAG_OK) {
            state.SkipWithError("program or verify failed");
            break;
        }
        model_s += static_cast<double>(ui.model_ns - start_ns) / 1e9;
        transfers += static_cast<double>(ui.transfers - start_transfers);
        cpu_s += ui.cpu - start_cpu;

        const vireo::sim::FlashPart& part = *vireo::sim::find_flash_part(board->preset().flash);
        const double sectors = static_cast<double>(part.size / part.sector);
        const double pages = static_cast<double>(part.size / 256);
        limit_s +=
            (sectors * static_cast<double>(part.sector_ns) +
             pages * static_cast<double>(part.page_ns)) /
                1e9 +
            static_cast<double>(image.size()) * 8 / static_cast<double>(board->preset().tck_hz);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["model_s"] = model_s / n;
    state.counters["limit_s"] = limit_s / n;
    state.counters["ratio"] = model_s / limit_s;
    state.counters["host_cpu_s"] = cpu_s / n;
    state.counters["cpu_share"] = cpu_s / model_s;
    state.counters["usb_transfers"] = transfers / n;
    fs::remove(file);
}
BENCHMARK(BM_FlashProgramVerify16MB)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
