#include "sim/fx3_firmware.h"

#include <algorithm>
#include <cstdio>

namespace vireo::sim {
namespace {

constexpr size_t kLongChunkMaxBytes = 125;  // 1000 clocks

size_t bytes_for(size_t bits) {
    return (bits + 7) / 8;
}
unsigned u16(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}
uint32_t u32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool is_shift_state(TapState s) {
    return s == TapState::ShiftDr || s == TapState::ShiftIr;
}

}  // namespace

std::vector<uint8_t> Fx3Firmware::version_reply() {
    char text[128];
    const int n =
        std::snprintf(text, sizeof text, "V%d %.*s firmware %d.%02d (VireoJTAG virtual board)\n",
                      kFx3FirmwareVersion, static_cast<int>(kFx3FirmwareId.size()),
                      kFx3FirmwareId.data(), kFx3FirmwareVersion / 100, kFx3FirmwareVersion % 100);
    return {text, text + std::min<size_t>(n, sizeof text - 1)};
}

void Fx3Firmware::receive(const uint8_t* data, size_t length) {
    if (!data || length < 2 || length > kFx3PacketSize || data[0] != 'T' || data[1] != 'K') {
        pending_.clear();
        return;
    }
    if (last_ended_with_wait_ && length == 3 && pending_.empty()) {
        last_ended_with_wait_ = false;
        return;
    }
    pending_.insert(pending_.end(), data + 2, data + length);
    run(length < kFx3PacketSize);
}

bool Fx3Firmware::take_reply(std::vector<uint8_t>* reply, uint64_t* ready_ns) {
    if (!pending_.empty()) run(true);
    if (replies_.empty()) return false;
    *reply = std::move(replies_.front().bytes);
    if (ready_ns) *ready_ns = replies_.front().ready_ns;
    replies_.pop_front();
    return true;
}

void Fx3Firmware::run(bool batch_end) {
    size_t pos = 0;
    last_ended_with_wait_ = false;
    while (pos < pending_.size()) {
        const size_t size = command_size(pos, batch_end);
        if (size == 0) break;
        execute(pending_.data() + pos, size);
        last_ended_with_wait_ = pending_[pos] == 'W';
        pos += size;
    }
    // A command cut by the end of a batch can never complete: drop it.
    if (batch_end) pos = pending_.size();
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    if (!pending_.empty()) last_ended_with_wait_ = false;
    commit_reply();
}

size_t Fx3Firmware::command_size(size_t pos, bool batch_end) const {
    const size_t avail = pending_.size() - pos;
    const uint8_t* p = pending_.data() + pos;
    auto need = [avail](size_t n) -> size_t { return avail >= n ? n : 0; };
    switch (p[0]) {
        case 'M':
        case 0x03:
            return need(2);
        case 'W':
            return need(5);
        case 'F':
            return avail < 3 ? 0 : need(3 + u16(p + 1));
        case 'x':
            return avail < 3 ? 0 : need(3 + 2 * bytes_for(u16(p + 1)));
        case 'S':
            return shift_size(pos, batch_end);
        default:
            return 1;  // one-byte commands, the end byte, unknown bytes
    }
}

size_t Fx3Firmware::shift_size(size_t pos, bool batch_end) const {
    const size_t avail = pending_.size() - pos;
    if (avail < 3) return 0;
    const uint8_t* p = pending_.data() + pos;
    const size_t bits = p[1] ? p[1] : 256;
    const size_t d = bytes_for(bits);
    const uint8_t mode = p[2];
    if (!(mode & 1)) {
        const size_t rest = avail - 3;
        // Could still be a long chunk whose batch goes on in the next packet.
        if (!batch_end && rest <= kLongChunkMaxBytes + 1) return 0;
        if (batch_end && rest >= d + 33 && rest <= kLongChunkMaxBytes + 1 &&
            (rest - 1 - d) % 32 == 0 && pending_.back() == 0) {
            const bool zero = std::all_of(p + 3, p + 3 + (rest - 1), [](uint8_t b) { return !b; });
            if ((mode & 2) || zero) return 3 + rest - 1;
        }
    }
    return avail >= 3 + d ? 3 + d : 0;
}

void Fx3Firmware::execute(const uint8_t* cmd, size_t size) {
    switch (cmd[0]) {
        case 'X':
            jtag_mode_ = true;
            break;
        case 'E':
            jtag_mode_ = false;
            break;
        case 'V': {
            const std::vector<uint8_t> text = version_reply();
            reply_.insert(reply_.end(), text.begin(), text.end());
            break;
        }
        case 'Q': {
            const uint8_t status = 0x01 | (jtag_mode_ ? 0x02 : 0) | (superspeed_ ? 0x10 : 0);
            reply_.push_back(status);
            reply_.push_back(pin_flags_);
            break;
        }
        case 'M':
            chain_.clock(cmd[1] & 1, false);
            break;
        case 0x03:
            pin_flags_ = cmd[1];
            break;
        case 'W':
            chain_.wait_ns(static_cast<uint64_t>(u32(cmd + 1)) * 1000);
            break;
        case 'F': {
            const size_t n = u16(cmd + 1);
            std::vector<uint8_t> packed(bytes_for(n), 0);
            for (size_t i = 0; i < n; ++i) packed[i / 8] |= (cmd[3 + i] ? 1 : 0) << (i % 8);
            chain_.shift(packed.data(), nullptr, n, false);
            break;
        }
        case 'S':
            shift(cmd, size);
            break;
        case 'x':
            vector_shift(cmd);
            break;
        default:
            break;
    }
}

void Fx3Firmware::shift(const uint8_t* cmd, size_t size) {
    const size_t data_bytes = size - 3;
    const size_t base = cmd[1] ? cmd[1] : 256;
    const size_t d = bytes_for(base);
    const size_t bits = base + 256 * ((data_bytes - d) / 32);
    const bool exit_on_last = cmd[2] & 1, capture = cmd[2] & 2;
    const uint8_t* tdi = cmd + 3;
    const bool idle = !capture && !exit_on_last && !is_shift_state(chain_.state()) &&
                      std::all_of(tdi, tdi + data_bytes, [](uint8_t b) { return !b; });
    if (idle) {
        chain_.run_clocks(bits);
        return;
    }
    std::vector<uint8_t> tdo(capture ? bytes_for(bits) : 0);
    chain_.shift(tdi, capture ? tdo.data() : nullptr, bits, exit_on_last);
    reply_.insert(reply_.end(), tdo.begin(), tdo.end());
}

void Fx3Firmware::vector_shift(const uint8_t* cmd) {
    const size_t n = u16(cmd + 1);
    std::vector<uint8_t> tdo(bytes_for(n), 0);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t tms = cmd[3 + 2 * (i / 8)], tdi = cmd[4 + 2 * (i / 8)];
        const int bit = i % 8;
        if (chain_.clock((tms >> bit) & 1, (tdi >> bit) & 1)) tdo[i / 8] |= 1 << bit;
    }
    reply_.insert(reply_.end(), tdo.begin(), tdo.end());
}

void Fx3Firmware::commit_reply() {
    if (reply_.empty()) return;
    replies_.push_back({std::move(reply_), chain_.now_ns()});
    reply_.clear();
}

}  // namespace vireo::sim
