// VIREO_SIM=<preset>[,option=value...]: which virtual board to pose as, and how.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sim/board_presets.h"
#include "sim/tap_chain.h"

namespace vireo::sim {

// How long JPROGRAM keeps INIT low on the board's FPGAs.
enum class ClearTime {
    Typical,       // the part's clear_ns (clear=typ, the default)
    DataSheetMax,  // the part's max_clear_ns, the data-sheet program latency (clear=max)
    Fixed,         // SimConfig::clear_ns on every part (clear=<N>us)
};

// What runs a bridge design loaded into the board's FPGAs.
enum class BridgeKind {
    Model,  // the C++ model (bridge=model, the default)
    Rtl,    // the Verilator build of hdl/bridge/ (bridge=rtl)
};

struct SimConfig {
    const BoardPreset* preset = nullptr;
    std::string flash;                     // flash part; the preset's unless flash= is given
    std::string state_dir;                 // folder for state that outlives the process
    std::optional<uint64_t> unplug_after;  // the board disappears after this many USB transfers
    TdoFault tdo = TdoFault::None;
    std::string firmware;  // USB 2.0 board firmware version ("1.2")
    ClearTime clear = ClearTime::Typical;
    uint64_t clear_ns = 0;  // with ClearTime::Fixed
    BridgeKind bridge = BridgeKind::Model;
};

struct SimConfigResult {
    std::optional<SimConfig> config;  // set on success
    std::string error;                // set on failure: one line, starts with "VIREO_SIM: "
};

// Environment lookup, replaceable in tests; returns null for an unset variable.
using EnvLookup = std::function<const char*(const char*)>;

SimConfigResult parse_sim_config(std::string_view text, const EnvLookup& env = {});

// $XDG_CACHE_HOME/vireojtag/sim/<preset>/, or ~/.cache/... when XDG_CACHE_HOME is unset or not
// absolute; empty when neither is known.
std::string default_state_dir(std::string_view preset, const EnvLookup& env = {});

}  // namespace vireo::sim
