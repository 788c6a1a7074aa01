#include "sim/tap_chain.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "sim/bits.h"

namespace vireo::sim {
namespace {

// Bulk shifts run through the devices in pieces of this many bits, so the buffers handed from
// one device to the next stay in cache. A multiple of 8: every piece starts on a byte.
constexpr size_t kPieceBits = size_t{1} << 18;

uint64_t ir_mask(int len) {
    return len >= 64 ? ~uint64_t{0} : (uint64_t{1} << len) - 1;
}

}  // namespace

TapChain::TapChain(uint64_t tck_hz) : clock_(tck_hz) {}
TapChain::~TapChain() = default;

TapDevice& TapChain::add(std::unique_ptr<TapDevice> device) {
    const int len = device->ir_length();
    if (len < 2 || len > 64)
        throw std::invalid_argument("TAP instruction register must be 2..64 bits");
    device->attach_clock(&clock_);
    device->advance(clock_.now_ns());
    device->reset();
    devices_.push_back({std::move(device), 0, len});
    return *devices_.back().dev;
}

int TapChain::total_ir_length() const {
    int total = 0;
    for (const auto& s : devices_) total += s.ir_len;
    return total;
}

void TapChain::sync_devices() {
    const uint64_t now = clock_.now_ns();
    if (now == synced_ns_) return;
    synced_ns_ = now;
    for (auto& s : devices_) s.dev->advance(now);
}

bool TapChain::apply_fault(bool tdo) const {
    if (fault_ == TdoFault::StuckLow) return false;
    if (fault_ == TdoFault::StuckHigh) return true;
    return tdo;
}

void TapChain::apply_fault(uint8_t* tdo, size_t nbits) const {
    if (fault_ != TdoFault::None)
        std::memset(tdo, fault_ == TdoFault::StuckHigh ? 0xFF : 0x00, bytes_for_bits(nbits));
    clear_tail_bits(tdo, nbits);
}

bool TapChain::shift_dr_bit(bool tdi) {
    uint8_t in = tdi ? 1 : 0;
    for (auto& s : devices_) {
        uint8_t out = 0;
        s.dev->dr_shift(&in, &out, 1);
        in = out & 1;
    }
    return in != 0;
}

bool TapChain::shift_ir_bit(bool tdi) {
    uint64_t bit = tdi ? 1 : 0;
    for (auto& s : devices_) {
        const uint64_t out = s.ir & 1;
        s.ir = (s.ir >> 1) | (bit << (s.ir_len - 1));
        bit = out;
    }
    return bit != 0;
}

bool TapChain::clock(bool tms, bool tdi) {
    sync_devices();
    bool tdo = true;
    switch (state_) {
        case TapState::CaptureDr:
            for (auto& s : devices_) s.dev->dr_capture();
            break;
        case TapState::CaptureIr:
            for (auto& s : devices_) s.ir = s.dev->ir_capture() & ir_mask(s.ir_len);
            break;
        case TapState::ShiftDr:
            tdo = shift_dr_bit(tdi);
            break;
        case TapState::ShiftIr:
            tdo = shift_ir_bit(tdi);
            break;
        case TapState::RunTestIdle:
            for (auto& s : devices_) s.dev->idle_clocks(1);
            break;
        default:
            break;
    }
    clock_.add_tcks(1);
    const TapState prev = state_;
    state_ = next_tap_state(state_, tms);
    enter_state(prev);
    return apply_fault(tdo);
}

// Update and reset act on the falling edge inside the new state; the chain runs them as soon as
// the state is entered, which no TDI/TDO observer can tell apart.
void TapChain::enter_state(TapState prev) {
    if (state_ == TapState::UpdateDr) {
        for (auto& s : devices_) s.dev->dr_update();
    } else if (state_ == TapState::UpdateIr) {
        for (auto& s : devices_) s.dev->ir_update(s.ir & ir_mask(s.ir_len));
    } else if (state_ == TapState::TestLogicReset && prev != TapState::TestLogicReset) {
        for (auto& s : devices_) s.dev->reset();
    }
}

void TapChain::shift_dr_bulk(const uint8_t* tdi, uint8_t* tdo, size_t nbits) {
    for (auto& buf : scratch_) buf.resize(kPieceBits / 8);
    for (size_t done = 0; done < nbits; done += kPieceBits) {
        const size_t n = std::min(kPieceBits, nbits - done);
        sync_devices();
        const uint8_t* in = tdi + done / 8;
        for (size_t k = 0; k < devices_.size(); ++k) {
            uint8_t* out = scratch_[k % 2].data();
            devices_[k].dev->dr_shift(in, out, n);
            in = out;
        }
        // Copying out last keeps the call safe when the caller passes one buffer for both.
        if (tdo) std::memmove(tdo + done / 8, in, bytes_for_bits(n));
        clock_.add_tcks(n);
    }
}

void TapChain::shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits, bool exit_on_last) {
    if (nbits == 0) return;
    if (state_ == TapState::ShiftDr) {
        shift_dr_bulk(tdi, tdo, nbits);
    } else if (state_ == TapState::ShiftIr) {
        sync_devices();
        for (size_t i = 0; i < nbits; ++i) {
            const bool out = shift_ir_bit(get_bit(tdi, i));
            if (tdo) put_bit(tdo, i, out);
        }
        clock_.add_tcks(nbits);
    } else {
        for (size_t i = 0; i < nbits; ++i) {
            const bool out = clock(exit_on_last && i + 1 == nbits, get_bit(tdi, i));
            if (tdo) put_bit(tdo, i, out);
        }
        if (tdo) clear_tail_bits(tdo, nbits);
        return;
    }
    if (tdo) apply_fault(tdo, nbits);
    if (exit_on_last) {
        // The last TCK shifted like the others; only the state it leads to differs.
        state_ = next_tap_state(state_, true);
    }
    sync_devices();
}

void TapChain::run_clocks(uint64_t n, bool tms, bool tdi) {
    while (n > 0) {
        if (next_tap_state(state_, tms) != state_) {
            clock(tms, tdi);
            --n;
            continue;
        }
        sync_devices();
        if (state_ == TapState::RunTestIdle) {
            for (auto& s : devices_) s.dev->idle_clocks(n);
            clock_.add_tcks(n);
        } else if (state_ == TapState::ShiftDr || state_ == TapState::ShiftIr) {
            const std::vector<uint8_t> level(kPieceBits / 8, tdi ? 0xFF : 0x00);
            while (n > 0) {
                const size_t piece = static_cast<size_t>(std::min<uint64_t>(n, kPieceBits));
                shift(level.data(), nullptr, piece, false);
                n -= piece;
            }
        } else {
            clock_.add_tcks(n);  // Test-Logic-Reset, Pause-DR, Pause-IR: nothing moves
        }
        n = 0;
    }
    sync_devices();
}

void TapChain::go_to(TapState target) {
    if (target == TapState::TestLogicReset) {
        for (int i = 0; i < 5; ++i) clock(true, false);
        return;
    }
    // Breadth-first search over the 16 states for the shortest TMS sequence.
    std::array<int, 16> from{};
    std::array<bool, 16> via_tms{};
    from.fill(-1);
    const int start = static_cast<int>(state_), goal = static_cast<int>(target);
    std::vector<int> queue{start};
    from[start] = start;
    for (size_t q = 0; q < queue.size() && from[goal] < 0; ++q) {
        for (bool tms : {false, true}) {
            const int nxt = static_cast<int>(next_tap_state(static_cast<TapState>(queue[q]), tms));
            if (from[nxt] >= 0) continue;
            from[nxt] = queue[q];
            via_tms[nxt] = tms;
            queue.push_back(nxt);
        }
    }
    std::vector<bool> path;
    for (int s = goal; s != start; s = from[s]) path.push_back(via_tms[s]);
    for (auto it = path.rbegin(); it != path.rend(); ++it) clock(*it, false);
}

void TapChain::wait_ns(uint64_t ns) {
    clock_.add_ns(ns);
    sync_devices();
}

}  // namespace vireo::sim
