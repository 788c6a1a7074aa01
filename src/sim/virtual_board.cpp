#include "sim/virtual_board.h"

#include "sim/board_chain.h"
#include "sim/xilinx_fpga.h"

namespace vireo::sim {
namespace {

// USB latency of one transfer: a microframe at high speed, less at SuperSpeed.
constexpr uint64_t kHighSpeedLatencyNs = 125'000;
constexpr uint64_t kSuperSpeedLatencyNs = 20'000;

}  // namespace

VirtualBoard::VirtualBoard(SimConfig config)
    : config_(std::move(config)), preset_(config_.preset), chain_(build_chain(config_)) {
    // Power-up: the FPGA, its mode pins at master SPI, loads what the flash holds.
    if (chain_)
        if (XilinxFpga* fpga = chain_->find<XilinxFpga>()) fpga->power_up();
}

bool VirtualBoard::transfer(uint64_t bytes_out, uint64_t bytes_in) {
    if (config_.unplug_after && counters_.transfers >= *config_.unplug_after) unplugged_ = true;
    if (unplugged_) return false;
    ++counters_.transfers;
    counters_.bytes_out += bytes_out;
    counters_.bytes_in += bytes_in;
    const bool superspeed =
        preset_->transport.kind == TransportKind::Fx3Board && preset_->transport.superspeed;
    chain_->wait_ns(superspeed ? kSuperSpeedLatencyNs : kHighSpeedLatencyNs);
    return true;
}

void VirtualBoard::become_board() {
    if (preset_->transport.kind != TransportKind::Fx3BootLoader) return;
    if (const BoardPreset* board = find_board_preset(preset_->transport.becomes)) preset_ = board;
}

std::shared_ptr<VirtualBoard> make_virtual_board(SimConfig config) {
    return std::make_shared<VirtualBoard>(std::move(config));
}

std::shared_ptr<VirtualBoard> make_virtual_board(std::string_view text, std::string* error) {
    SimConfigResult parsed = parse_sim_config(text);
    if (error) *error = parsed.error;
    if (!parsed.config) return nullptr;
    return make_virtual_board(std::move(*parsed.config));
}

}  // namespace vireo::sim
