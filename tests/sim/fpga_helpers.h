// A chain around one virtual Xilinx FPGA and the instruction loads the tests need.
#pragma once

#include <memory>

#include "sim/xilinx_fpga.h"
#include "sim_scan.h"

namespace vireo::sim::test {

struct FpgaBench {
    explicit FpgaBench(const char* part_name, uint64_t tck_hz = 30'000'000) : chain(tck_hz) {
        fpga = &static_cast<XilinxFpga&>(chain.add(std::make_unique<XilinxFpga>(*find_xilinx_part(part_name))));
    }
    // Loads an instruction; returns the IR capture shifted out meanwhile.
    uint64_t load(XilinxInstr instr) {
        return ir_scan(chain, instruction_code(fpga->part().family, instr), XilinxFpga::kIrLength);
    }
    uint64_t status() { return load(XilinxInstr::Bypass); }

    TapChain chain;
    XilinxFpga* fpga = nullptr;
};

// IR capture bits of the Xilinx TAPs.
inline constexpr uint64_t kIscDone = 1 << 2, kIscEnabled = 1 << 3, kInit = 1 << 4, kDone = 1 << 5;

}  // namespace vireo::sim::test
