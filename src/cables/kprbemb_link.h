// Inside kprbemb: the driver record, the command queue and the transfers on the four pipes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cables/cable.h"
#include "cables/cmd_queue.h"
#include "cables/connector.h"
#include "cables/devobj.h"
#include "jtag/tap.h"

constexpr size_t kKprbQueueSize = 32768;

struct KprbembState {
    // The command queue: packets of at most kKprbQueueSize bytes on the command stream pipe.
    explicit KprbembState(Cable& cable);
    ~KprbembState();  // closes the device handle
    KprbembState(const KprbembState&) = delete;
    KprbembState& operator=(const KprbembState&) = delete;

    int protocol = 0;  // 0 until identified, then 1 or 2
    DevobjHandle handle = DEVOBJ_INVALID;
    unsigned tap_state = UNKNOWN;
    std::string param;
    std::string device_name;
    uint8_t pins = cable_connector::kPinRegisterAtOpen;  // bits 0-3 P0-P3 levels, 4-7 enables
    uint8_t mode = 0;                                    // bit 0 lock, bit 7 second mode flag
    uint8_t last_status = 0;  // byte 0 of the last mode reply (bit 0: target powered)
    std::string description;
    std::vector<uint8_t> scratch;  // one chunk being built
    CommandQueue queue;
};

KprbembState* kprb_state(Cable* cable);

// Closes the device handle, if any.
void kprb_drop_handle(KprbembState& s);

// Transfers; each gives the byte count or -1. Every failure but a missing handle closes the
// handle. Reads clear the buffer first and fail on a short reply.
int kprb_control_write(KprbembState& s, const uint8_t* bytes, size_t size);
int kprb_control_read(KprbembState& s, uint8_t* buffer, size_t size);
int kprb_stream_read(KprbembState& s, uint8_t* buffer, size_t size);
// Reads of the replies to commands not yet written, posted before those commands go out: a
// cable that holds only a few replies takes no more commands while its replies find no read.
// count reads of size bytes each (a reply apiece when the replies are short USB packets). 0, or
// -1 as the transfers above.
int kprb_stream_post_replies(KprbembState& s, size_t size, size_t count);
// The oldest group posted, its size and count as posted, into buffer (size * count bytes); what
// comes in parts is joined from reads that follow. size * count, or -1 as kprb_stream_read.
int kprb_stream_collect_replies(KprbembState& s, uint8_t* buffer, size_t size, size_t count);

// Reads the product string and sets the protocol; true when the device is one the driver runs.
// Quiet, the board's firmware version is not printed (open checks the chosen device twice).
bool kprb_identify(KprbembState& s, bool quiet = false);
