#include "cables/cmd_queue.h"

#include <algorithm>
#include <cstring>

#include "jtag/status.h"

int cable_lost(Cable& cable) {
    cable.alive = 0;
    return JTAG_DISCONNECTED;
}

CommandQueue::CommandQueue(Cable& cable, size_t limit, std::span<const uint8_t> prefix, Sender send)
    : cable_(cable),
      limit_(std::max(limit, prefix.size() + 1)),
      prefix_(prefix.begin(), prefix.end()),
      send_(std::move(send)),
      packet_(limit_) {}

int CommandQueue::append(std::span<const uint8_t> bytes, bool flush) {
    if (!cable_.alive) return lose();
    while (!bytes.empty()) {
        if (used_ == 0) {
            std::copy(prefix_.begin(), prefix_.end(), packet_.begin());
            used_ = prefix_.size();
        }
        const size_t take = std::min(bytes.size(), limit_ - used_);
        std::memcpy(packet_.data() + used_, bytes.data(), take);
        used_ += take;
        bytes = bytes.subspan(take);
        if (used_ == limit_ && send() != JTAG_OK) return JTAG_DISCONNECTED;
    }
    return flush ? this->flush() : JTAG_OK;
}

int CommandQueue::flush() {
    return used_ == 0 ? status() : send();
}

int CommandQueue::status() const {
    return cable_.alive ? JTAG_OK : JTAG_DISCONNECTED;
}

int CommandQueue::lose() {
    used_ = 0;
    return cable_lost(cable_);
}

int CommandQueue::send() {
    const bool sent = cable_.alive && send_(std::span<const uint8_t>(packet_.data(), used_));
    used_ = 0;
    return sent ? JTAG_OK : cable_lost(cable_);
}
