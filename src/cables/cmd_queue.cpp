#include "cables/cmd_queue.h"

#include <algorithm>

#include "jtag/status.h"

int cable_lost(Cable& cable) {
    cable.alive = 0;
    return JTAG_DISCONNECTED;
}

CommandQueue::CommandQueue(Cable& cable, size_t limit, std::span<const uint8_t> prefix, Sender send)
    : cable_(cable),
      limit_(std::max(limit, prefix.size() + 1)),
      prefix_(prefix.begin(), prefix.end()),
      send_(std::move(send)) {
    packet_.reserve(limit_);
}

int CommandQueue::append(std::span<const uint8_t> bytes, bool flush) {
    if (!cable_.alive) return lose();
    while (!bytes.empty()) {
        if (packet_.empty()) packet_.assign(prefix_.begin(), prefix_.end());
        const size_t take = std::min(bytes.size(), limit_ - packet_.size());
        packet_.insert(packet_.end(), bytes.begin(), bytes.begin() + take);
        bytes = bytes.subspan(take);
        if (packet_.size() == limit_ && send() != JTAG_OK) return JTAG_DISCONNECTED;
    }
    return flush ? this->flush() : JTAG_OK;
}

int CommandQueue::flush() {
    return packet_.empty() ? status() : send();
}

int CommandQueue::status() const {
    return cable_.alive ? JTAG_OK : JTAG_DISCONNECTED;
}

int CommandQueue::lose() {
    packet_.clear();
    return cable_lost(cable_);
}

int CommandQueue::send() {
    const bool sent = cable_.alive && send_(packet_);
    packet_.clear();
    return sent ? JTAG_OK : cable_lost(cable_);
}
