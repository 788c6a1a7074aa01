// Host throughput of the virtual board's JTAG chain: a full XC7A100T image through CFG_IN in one
// bulk Shift-DR, on the kb2203 chain (FPGA alone) and the zynq chain (DAP in BYPASS before the
// PL), plus the bare cost of bypass stages and of bit-level clocking.
#include <benchmark/benchmark.h>

#include <vector>

#include "sim/bitgen.h"
#include "sim/board_chain.h"
#include "sim/bypass_device.h"
#include "sim/xilinx_fpga.h"

namespace {

using namespace vireo::sim;

// Loads `code` into the FPGA (the last device, at TDO) and all ones into the others.
void load_ir(TapChain& chain, uint8_t code) {
    const int total = chain.total_ir_length();
    const uint64_t ir = (((uint64_t{1} << total) - 1) & ~uint64_t{0x3F}) | code;
    uint8_t in[8], out[8];
    for (int i = 0; i < 8; ++i) in[i] = static_cast<uint8_t>(ir >> (8 * i));
    chain.go_to(TapState::ShiftIr);
    chain.shift(in, out, static_cast<size_t>(total), true);
    chain.go_to(TapState::RunTestIdle);
}

std::vector<uint8_t> wire_image(const XilinxPart& part, size_t pad_bits) {
    std::vector<uint8_t> image = make_config_image(part, {});
    for (uint8_t& b : image) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
        b = r;
    }
    image.resize(image.size() + bytes_for_bits(pad_bits), 0);
    return image;
}

void BM_ChainCfgIn(benchmark::State& state, const char* preset) {
    auto config = parse_sim_config(preset);
    auto chain = build_chain(*config.config);
    XilinxFpga& fpga = *chain->find<XilinxFpga>();
    const size_t pad = chain->size() - 1;  // one bypass bit per device before the FPGA
    const std::vector<uint8_t> wire = wire_image(fpga.part(), pad);
    const size_t nbits = (wire.size() - bytes_for_bits(pad)) * 8 + pad;
    uint64_t model_ns = 0;
    for (auto _ : state) {
        state.PauseTiming();
        load_ir(*chain, instruction_code(fpga.part().family, XilinxInstr::Jprogram));
        chain->wait_ns(fpga.part().clear_ns);
        load_ir(*chain, instruction_code(fpga.part().family, XilinxInstr::CfgIn));
        chain->go_to(TapState::ShiftDr);
        const uint64_t t0 = chain->now_ns();
        state.ResumeTiming();
        chain->shift(wire.data(), nullptr, nbits, true);
        state.PauseTiming();
        model_ns = chain->now_ns() - t0;
        load_ir(*chain, instruction_code(fpga.part().family, XilinxInstr::Jstart));
        chain->run_clocks(2000);
        if (!fpga.engine().done()) state.SkipWithError("image did not configure");
        state.ResumeTiming();
    }
    state.counters["Mbit/s"] = benchmark::Counter(
        static_cast<double>(nbits) * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
    state.counters["model_s"] = static_cast<double>(model_ns) / 1e9;
}

BENCHMARK_CAPTURE(BM_ChainCfgIn, kb2203, "kb2203")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ChainCfgIn, zynq, "zynq")->Unit(benchmark::kMillisecond);

void BM_BypassStages(benchmark::State& state) {
    TapChain chain;
    for (int i = 0; i < state.range(0); ++i) chain.add(std::make_unique<BypassOnlyDevice>());
    const size_t nbits = 30'606'304;
    std::vector<uint8_t> tdi(bytes_for_bits(nbits), 0x5A), tdo(tdi.size());
    chain.go_to(TapState::ShiftDr);
    for (auto _ : state) {
        chain.shift(tdi.data(), tdo.data(), nbits, false);
        benchmark::DoNotOptimize(tdo.data());
    }
    state.counters["Mbit/s"] = benchmark::Counter(
        static_cast<double>(nbits) * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
}

BENCHMARK(BM_BypassStages)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// The bit-level path firmware models use: one clock() per TCK through the zynq chain.
void BM_BitLevelClock(benchmark::State& state) {
    auto chain = build_chain(*parse_sim_config("zynq").config);
    chain->go_to(TapState::ShiftDr);
    bool tdi = false;
    for (auto _ : state) tdi = chain->clock(false, !tdi);
    state.counters["Mbit/s"] = benchmark::Counter(static_cast<double>(state.iterations()) / 1e6,
                                                  benchmark::Counter::kIsRate);
}

BENCHMARK(BM_BitLevelClock);

}  // namespace
