// Inside kprbemb: the driver record, the command queue and the transfers on the four pipes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cables/devobj.h"
#include "jtag/tap.h"

struct Cable;

constexpr size_t kKprbQueueSize = 32768;

struct KprbembState {
    int protocol = 0;  // 0 until identified, then 1 or 2
    DevobjHandle handle = DEVOBJ_INVALID;
    unsigned tap_state = UNKNOWN;
    std::string param;
    std::string device_name;
    std::vector<uint8_t> queue;  // commands not yet sent, at most kKprbQueueSize
    uint8_t pins = 0x33;         // bits 0-3 levels of P0-P3, bits 4-7 their output enables
    uint8_t mode = 0;            // bit 0 lock, bit 7 second mode flag
    uint8_t last_status = 0;     // byte 0 of the last mode reply (bit 0: target powered)
    std::string description;
    std::vector<uint8_t> scratch;  // one chunk being built
};

KprbembState* kprb_state(Cable* cable);
// Marks the cable gone (alive 0) and gives 21.
int kprb_lost(Cable* cable);

// Closes the device handle, if any.
void kprb_drop_handle(KprbembState& s);

// Appends bytes to the queue; the queue is sent whenever it fills, and once more after the last
// byte when flush is set. 0, or -1 without a handle or when a send fails.
int kprb_queue(KprbembState& s, const uint8_t* bytes, size_t size, bool flush);
int kprb_queue_byte(KprbembState& s, uint8_t byte, bool flush);

// Transfers; each gives the byte count or -1. Every failure but the control write's missing
// handle closes the handle. Reads clear the buffer first and fail on a short reply.
int kprb_control_write(KprbembState& s, const uint8_t* bytes, size_t size);
int kprb_control_read(KprbembState& s, uint8_t* buffer, size_t size);
int kprb_stream_read(KprbembState& s, uint8_t* buffer, size_t size);

// Reads the product string and sets the protocol; true when the device is one the driver runs.
bool kprb_identify(KprbembState& s);
