// Inside the skprb driver: its record per open cable and the "TK" packets it sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "cables/cable.h"
#include "cables/cmd_queue.h"
#include "cables/connector.h"
#include "jtag/tap.h"

constexpr size_t kSkprbPacketSize = 32768;

// One batch of a captured scan: its chunks from bit `start` up to `end` of a scan of `count`
// bits, whose reply of `bytes` bytes holds each chunk's bits on bytes of their own.
struct SkprbCaptureBatch {
    uint8_t* capture = nullptr;
    int count = 0;
    int start = 0, end = 0, bytes = 0;
};

struct SkprbState {
    // The packet queue: "TK" packets of at most kSkprbPacketSize bytes through fx3_write.
    explicit SkprbState(Cable& cable);

    bool opened = false;
    int generation = 0;  // of the FX3 open this cable made (fx3_open_tracked)
    bool superspeed = false;
    unsigned tap_state = UNKNOWN;
    std::string parameter;
    std::string description_out;
    std::string description;
    uint8_t pin_flags = cable_connector::kPinRegisterAtOpen;  // bit k: Pk high; 4+k: Pk driven
    bool target_voltage = false;
    CommandQueue packets;
    std::vector<uint8_t> reply = std::vector<uint8_t>(1024);
    std::vector<uint8_t> scratch;  // packed bits on their way into the queue, kept between calls
    // Deferred captures: those in the packet being filled, then one reply's worth per packet
    // sent, oldest first (the board answers the captures of each packet with one reply).
    struct DeferredReply {
        std::vector<SkprbCaptureBatch> batches;
        int bytes = 0;
    };
    DeferredReply deferring;
    std::deque<DeferredReply> deferred;
};

inline SkprbState* skprb_record(Cable* cable) {
    return cable ? static_cast<SkprbState*>(cable->state) : nullptr;
}

// One reply into s.reply, at most max bytes, once the deferred replies before it are in their
// captures: the byte count, or -1 after marking the cable lost.
int skprb_read(SkprbState& s, int max);
// Reads the deferred replies into their captures. JTAG_OK, or 21 with the cable lost.
int skprb_settle(SkprbState& s);
// Sends one command byte, flushed, and reads its reply: the byte count, or -1 with the cable lost.
int skprb_ask(SkprbState& s, uint8_t command, int max);
// The option slot of the driver table, behind the exception barrier.
int skprb_option_slot(Cable* cable, int code, const void* in, int reserved, void* out, int count,
                      int* outcount);
