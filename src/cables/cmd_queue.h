// The byte-command queue of the USB cable drivers. Commands are appended; a packet goes out as
// soon as it is full (a command may straddle two packets) and when the caller flushes. Each packet
// may begin with a fixed prefix, the driver's framing. A packet that cannot be sent loses the
// cable for good: alive drops to 0, the caller gets 21, and nothing is queued or sent after that.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <vector>

#include "cables/cable.h"

// Marks the cable gone (alive 0) and gives JTAG_DISCONNECTED.
int cable_lost(Cable& cable);

class CommandQueue {
  public:
    // Sends one packet; true when all of it went out.
    using Sender = std::function<bool(std::span<const uint8_t> packet)>;

    // Packets of at most `limit` bytes (more than the prefix), each beginning with `prefix`.
    // Takes its whole buffer now (std::bad_alloc when it cannot), so appending never allocates.
    CommandQueue(Cable& cable, size_t limit, std::span<const uint8_t> prefix, Sender send);
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // Appends bytes; with flush, the packet holding the last of them goes out too. JTAG_OK, or
    // JTAG_DISCONNECTED once the cable is lost (now or before).
    int append(std::span<const uint8_t> bytes, bool flush = false);
    int append(std::initializer_list<uint8_t> bytes, bool flush = false) {
        return append(std::span<const uint8_t>(bytes.begin(), bytes.size()), flush);
    }
    // Sends what is queued; nothing when nothing is.
    int flush();
    // Bytes the packet being filled still takes before it goes out.
    size_t room() const { return limit_ - std::max(used_, prefix_.size()); }
    // JTAG_OK while the cable is usable, JTAG_DISCONNECTED once it is lost.
    int status() const;
    // Marks the cable lost for a failure the queue did not see (a reply that never came).
    int lose();

  private:
    int send();

    Cable& cable_;
    size_t limit_;
    std::vector<uint8_t> prefix_;
    Sender send_;
    std::vector<uint8_t> packet_;  // `limit_` bytes: the prefix and the commands not yet sent
    size_t used_ = 0;              // bytes of packet_ in use; 0 when nothing is queued
};
