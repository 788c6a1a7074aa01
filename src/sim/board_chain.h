// Assembles the JTAG chain of a virtual board from its configuration.
#pragma once

#include <memory>

#include "sim/config_engine.h"
#include "sim/sim_config.h"
#include "sim/tap_chain.h"

namespace vireo::sim {

// The preset's devices in chain order, its TCK rate and the tdo= fault. Each FPGA gets the
// board's fixed DNA, an empty BSCAN and the clear= time. A boot loader preset yields the chain of
// the board it becomes (the silicon is there; only the firmware is missing). Null if a part is
// unknown.
std::unique_ptr<TapChain> build_chain(const SimConfig& config, ConfigEngine::Log log = {});

}  // namespace vireo::sim
