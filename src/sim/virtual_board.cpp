#include "sim/virtual_board.h"

#include <atomic>
#include <cstdlib>

#include "sim/board_chain.h"

namespace vireo::sim {
namespace {

// USB latency of one transfer: a microframe at high speed, less at SuperSpeed.
constexpr uint64_t kHighSpeedLatencyNs = 125'000;
constexpr uint64_t kSuperSpeedLatencyNs = 20'000;

std::atomic<uint64_t> next_serial{1};

struct BoardSlot {
    std::unique_ptr<VirtualBoard> board;
    std::string error;
    bool parsed = false;
};

BoardSlot& slot() {
    static BoardSlot s;
    return s;
}

VirtualBoard* install(std::string_view text, std::string* error) {
    BoardSlot& s = slot();
    s.parsed = true;
    s.board.reset();
    s.error.clear();
    if (!text.empty()) {
        SimConfigResult parsed = parse_sim_config(text);
        if (parsed.config) {
            s.board = std::make_unique<VirtualBoard>(std::move(*parsed.config));
        } else {
            s.error = parsed.error;
        }
    }
    if (error) *error = s.error;
    return s.board.get();
}

}  // namespace

VirtualBoard::VirtualBoard(SimConfig config)
    : config_(std::move(config)),
      serial_(next_serial++),
      preset_(config_.preset),
      chain_(build_chain(config_)) {}

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

VirtualBoard* virtual_board(std::string* error) {
    BoardSlot& s = slot();
    if (!s.parsed) {
        const char* text = std::getenv("VIREO_SIM");
        install(text ? text : "", nullptr);
    }
    if (error) *error = s.error;
    return s.board.get();
}

VirtualBoard* reset_virtual_board(std::string_view text, std::string* error) {
    return install(text, error);
}

}  // namespace vireo::sim
