// Host throughput of the virtual FPGA's configuration port: a full image through CFG_IN.
#include <benchmark/benchmark.h>

#include <vector>

#include "sim/bitgen.h"
#include "sim/config_engine.h"
#include "sim/xilinx_parts.h"

namespace {

using namespace vireo::sim;

std::vector<uint8_t> wire_image(const XilinxPart& part) {
    std::vector<uint8_t> image = make_config_image(part, {});
    for (uint8_t& b : image) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i) r |= static_cast<uint8_t>(((b >> i) & 1) << (7 - i));
        b = r;
    }
    return image;
}

void BM_FullImage(benchmark::State& state, const char* name) {
    const XilinxPart& part = *find_xilinx_part(name);
    const std::vector<uint8_t> wire = wire_image(part);
    ConfigEngine engine(part);
    for (auto _ : state) {
        engine.program(0);
        engine.advance(part.clear_ns);
        engine.dr_capture();
        engine.cfg_in(wire.data(), wire.size() * 8);
        engine.advance(part.clear_ns + 100'000);
        if (!engine.done()) state.SkipWithError("image did not configure");
    }
    const double bits = static_cast<double>(wire.size()) * 8;
    state.counters["Mbit/s"] = benchmark::Counter(
        bits * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_FullImage, XC7A100T, "XC7A100T")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullImage, XC6SLX150T, "XC6SLX150T")->Unit(benchmark::kMillisecond);

}  // namespace
