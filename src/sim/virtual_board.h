// The board a process talks to when VIREO_SIM is set. Created on first use and kept until the
// process ends, so the FPGA keeps its configuration between cable opens as it does on hardware.
// The USB back-ends (FX3 component, device-object layer) reach the models only through it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "sim/sim_config.h"
#include "sim/tap_chain.h"

namespace vireo::sim {

// What crossed the virtual USB link, for benchmarks and tests.
struct UsbCounters {
    uint64_t transfers = 0;
    uint64_t bytes_out = 0;
    uint64_t bytes_in = 0;
};

class VirtualBoard {
  public:
    explicit VirtualBoard(SimConfig config);

    const SimConfig& config() const { return config_; }
    // Differs between every two boards a process creates, so a handle opened on a board that
    // reset_virtual_board replaced can tell it is gone.
    uint64_t serial() const { return serial_; }
    // The preset the board currently poses as (a boot loader becomes its board after download).
    const BoardPreset& preset() const { return *preset_; }
    TapChain& chain() { return *chain_; }

    // Counts one USB transfer of the given sizes and adds the link latency to modeled time.
    // False once the board has been unplugged (unplug=N: the transfers after the Nth fail).
    bool transfer(uint64_t bytes_out, uint64_t bytes_in);
    bool unplugged() const { return unplugged_; }
    void unplug() { unplugged_ = true; }
    const UsbCounters& counters() const { return counters_; }
    void reset_counters() { counters_ = {}; }

    // After a firmware download the boot loader re-enumerates as the board it becomes.
    void become_board();

    // Serialises the GUI thread and the XVC server thread on the one board.
    std::mutex& mutex() { return mutex_; }

  private:
    SimConfig config_;
    uint64_t serial_;
    const BoardPreset* preset_;
    std::unique_ptr<TapChain> chain_;
    UsbCounters counters_;
    bool unplugged_ = false;
    std::mutex mutex_;
};

// The process's board from VIREO_SIM; null when the variable is unset or invalid (then *error,
// when given, holds the one-line reason). Parsed once.
VirtualBoard* virtual_board(std::string* error = nullptr);

// Replaces the process's board by one built from `text` (the VIREO_SIM syntax), as if the
// variable had held it; an empty text removes the board. For tests and the --sim option.
VirtualBoard* reset_virtual_board(std::string_view text, std::string* error = nullptr);

}  // namespace vireo::sim
