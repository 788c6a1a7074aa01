#include "sim/virtual_board.h"

#include <algorithm>
#include <chrono>

#include "sim/board_chain.h"
#include "sim/board_state.h"
#include "sim/xilinx_fpga.h"

namespace vireo::sim {
namespace {

// USB latency of one transfer the host waits for: a microframe at high speed, less at
// SuperSpeed.
constexpr uint64_t kHighSpeedLatencyNs = 125'000;
constexpr uint64_t kSuperSpeedLatencyNs = 20'000;
// A queued bulk transfer takes the bus for its packets (a short or empty one counts whole):
// 512-byte packets at high speed, at most 13 to a 125 us microframe; 1024-byte packets at
// SuperSpeed, about 400 MB/s of payload.
constexpr uint64_t kHighSpeedPacket = 512, kHighSpeedPacketNs = 9'615;
constexpr uint64_t kSuperSpeedPacket = 1024, kSuperSpeedPacketNs = 2'560;

// The flash on the board: flash=, else the preset's (for a boot loader, its board's).
const FlashPart* board_flash(const SimConfig& config) {
    if (!config.flash.empty()) return find_flash_part(config.flash);
    const BoardPreset* board = find_board_preset(config.preset->transport.becomes);
    return board ? find_flash_part(board->flash) : nullptr;
}

}  // namespace

VirtualBoard::VirtualBoard(SimConfig config)
    : config_(std::move(config)), preset_(config_.preset), chain_(build_chain(config_)) {
    // Power-up: the FPGA, its mode pins at master SPI, loads what the flash holds.
    if (chain_)
        if (XilinxFpga* fpga = chain_->find<XilinxFpga>()) fpga->power_up();
}

VirtualBoard::~VirtualBoard() {
    if (state_) save_state();
}

bool VirtualBoard::attach_state(std::string* error, const std::function<void()>& on_wait) {
    if (error) error->clear();
    if (config_.state_dir.empty()) {
        if (error) *error = "VIREO_SIM: no state folder";
        return false;
    }
    XilinxFpga* fpga = chain_ ? chain_->find<XilinxFpga>() : nullptr;
    std::string why;
    auto folder = std::make_unique<StateFolder>(config_.state_dir);
    std::optional<SavedBoard> saved;
    if (folder->claim(&why, on_wait)) saved = folder->load(&why);
    // The flash saved for this board's part is kept whole or refused: a cut or grown file is
    // damage the user must see, not a blank flash. Another part's contents are replaced.
    const FlashPart* part = saved ? find_flash_part(saved->flash_part) : nullptr;
    const bool same_part = part && fpga && fpga->flash() && part == board_flash(config_);
    if (why.empty() && same_part && saved->flash_file && saved->flash.size() != part->size) {
        why = folder->flash_file() + " holds " + std::to_string(saved->flash.size()) +
              " bytes, the " + std::string(part->name) + " holds " + std::to_string(part->size) +
              "; move it away to start with a blank flash";
    }
    if (!why.empty()) {
        if (error) *error = "VIREO_SIM: " + why;
        return false;
    }
    state_ = std::move(folder);
    if (!saved || !fpga || !fpga->flash()) return true;
    if (same_part && saved->flash_file) {
        std::shared_ptr<SpiFlash> flash = make_spi_flash(*part, saved->power_of_two);
        flash->array() = saved->flash;
        flash_changes_saved_ = flash->changes();
        fpga->set_flash(std::move(flash));
    } else if (saved->flash_file) {
        flash_changes_saved_ = UINT64_MAX;  // another part's contents: replace them
    }
    if (!saved->powered) return true;  // unplugged since: this start is a power-up
    if (!saved->became.empty()) become_board();
    fpga->restore_design(saved->design, saved->bootsts);
    return true;
}

bool VirtualBoard::save_state(std::string* error) {
    XilinxFpga* fpga = chain_ ? chain_->find<XilinxFpga>() : nullptr;
    SavedBoard b;
    // Unplugging powers the board off: the FX3 forgets its firmware, the FPGA its design.
    b.powered = !unplugged_;
    if (b.powered && preset_ != config_.preset) b.became = preset_->name;
    if (fpga && fpga->flash()) {
        SpiFlash& flash = *fpga->flash();
        if (const FlashPart* part = board_flash(config_)) b.flash_part = part->name;
        b.power_of_two = flash.power_of_two_stored();
        if (flash.changes() != flash_changes_saved_) b.flash = flash.array();
        if (b.powered) b.design = fpga->engine().design();
        b.bootsts = fpga->engine().bootsts();
    }
    if (!state_) {
        if (error) *error = "VIREO_SIM: no state folder attached";
        return false;
    }
    std::string why;
    if (!state_->save(b, &why)) {
        if (error)
            *error = "The virtual board's state could not be saved: " + why +
                     "; the flash and the running design of this run are lost.";
        return false;
    }
    if (fpga && fpga->flash()) flash_changes_saved_ = fpga->flash()->changes();
    return true;
}

namespace {
uint64_t host_now_ns() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
}  // namespace

void VirtualBoard::follow_host_clock() {
    follow_host_ = true;
    host_base_ns_ = host_now_ns();
    model_base_ns_ = chain_->now_ns();
}

bool VirtualBoard::count_transfer(uint64_t bytes_out, uint64_t bytes_in) {
    if (config_.unplug_after && counters_.transfers >= *config_.unplug_after) unplugged_ = true;
    if (unplugged_) return false;
    if (follow_host_) {
        const uint64_t host = host_now_ns() - host_base_ns_;
        const uint64_t model = chain_->now_ns() - model_base_ns_;
        if (host > model) chain_->wait_ns(host - model);
    }
    ++counters_.transfers;
    counters_.bytes_out += bytes_out;
    counters_.bytes_in += bytes_in;
    return true;
}

bool VirtualBoard::superspeed() const {
    return preset_->transport.kind == TransportKind::Fx3Board && preset_->transport.superspeed;
}

bool VirtualBoard::transfer(uint64_t bytes_out, uint64_t bytes_in) {
    if (!count_transfer(bytes_out, bytes_in)) return false;
    // Every queued transfer has been executed by now; the host waits a whole round trip.
    chain_->wait_ns(superspeed() ? kSuperSpeedLatencyNs : kHighSpeedLatencyNs);
    in_flight_done_ns_.clear();
    host_free_ns_ = bus_free_ns_ = chain_->now_ns();
    return true;
}

bool VirtualBoard::reply_transfer(uint64_t bytes_in, uint64_t ready_ns) {
    if (!count_transfer(0, bytes_in)) return false;
    const uint64_t done = std::max(ready_ns, host_free_ns_) +
                          (superspeed() ? kSuperSpeedLatencyNs : kHighSpeedLatencyNs);
    if (chain_->now_ns() < done) chain_->wait_ns(done - chain_->now_ns());
    host_free_ns_ = done;
    while (!in_flight_done_ns_.empty() && in_flight_done_ns_.front() <= done)
        in_flight_done_ns_.pop_front();
    return true;
}

bool VirtualBoard::reply_transfers(std::span<const uint64_t> bytes_in,
                                   std::span<const uint64_t> ready_ns) {
    const uint64_t packet = superspeed() ? kSuperSpeedPacket : kHighSpeedPacket;
    uint64_t bus = std::max(bus_free_ns_, host_free_ns_);
    for (size_t i = 0; i < bytes_in.size(); ++i) {
        if (!count_transfer(0, bytes_in[i])) return false;
        const uint64_t packets = std::max<uint64_t>(1, (bytes_in[i] + packet - 1) / packet);
        bus = std::max(bus, ready_ns[i]) +
              packets * (superspeed() ? kSuperSpeedPacketNs : kHighSpeedPacketNs);
    }
    const uint64_t done = bus + (superspeed() ? kSuperSpeedLatencyNs : kHighSpeedLatencyNs);
    if (chain_->now_ns() < done) chain_->wait_ns(done - chain_->now_ns());
    bus_free_ns_ = bus;
    host_free_ns_ = done;
    while (!in_flight_done_ns_.empty() && in_flight_done_ns_.front() <= done)
        in_flight_done_ns_.pop_front();
    return true;
}

bool VirtualBoard::queue_transfer(uint64_t bytes_out, size_t window) {
    if (!count_transfer(bytes_out, 0)) return false;
    uint64_t submit = host_free_ns_;
    if (window > 0 && in_flight_done_ns_.size() >= window) {
        submit = std::max(submit, in_flight_done_ns_.front());
        in_flight_done_ns_.pop_front();
    }
    const uint64_t packet = superspeed() ? kSuperSpeedPacket : kHighSpeedPacket;
    const uint64_t packets = std::max<uint64_t>(1, (bytes_out + packet - 1) / packet);
    const uint64_t arrival = std::max(bus_free_ns_, submit) +
                             packets * (superspeed() ? kSuperSpeedPacketNs : kHighSpeedPacketNs);
    bus_free_ns_ = arrival;
    host_free_ns_ = submit;
    if (chain_->now_ns() < arrival) chain_->wait_ns(arrival - chain_->now_ns());
    return true;
}

void VirtualBoard::queued_transfer_done() {
    in_flight_done_ns_.push_back(chain_->now_ns());
}

// The models' sections are microseconds long and rarely preempted, so their elapsed time on the
// monotonic clock (read without a system call) stands for their CPU time.

VirtualBoard::ModelWork::ModelWork(VirtualBoard& board) : board_(board), start_ns_(host_now_ns()) {}

VirtualBoard::ModelWork::~ModelWork() {
    board_.counters_.model_cpu_ns += host_now_ns() - start_ns_;
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
