// Inside the skprb driver: its record per open cable and the packet it assembles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cables/cable.h"
#include "jtag/tap.h"

struct SkprbState {
    bool opened = false;
    bool superspeed = false;
    unsigned tap_state = UNKNOWN;
    std::string parameter;
    std::string description_out;
    std::string description;
    std::vector<uint8_t> packet;  // "TK" and the commands not yet sent
    size_t packet_length = 0;
    uint8_t pin_flags = 0x33;  // bit k: level of Pk; bit 4+k: Pk driven
    bool target_voltage = false;
    std::vector<uint8_t> reply = std::vector<uint8_t>(1024);
};

constexpr size_t kSkprbPacketSize = 32768;

inline SkprbState* skprb_record(Cable* cable) {
    return cable ? static_cast<SkprbState*>(cable->state) : nullptr;
}

// Queues command bytes; a full packet goes out at once, and flush sends what is queued. A packet
// that cannot be sent marks the cable lost (alive 0); later packets are then dropped.
void skprb_append(Cable* cable, SkprbState& s, uint8_t byte, bool flush = false);
void skprb_append_bytes(Cable* cable, SkprbState& s, const uint8_t* data, size_t length);
// Sends the queued bytes. False when the cable is lost.
bool skprb_send(Cable* cable, SkprbState& s);
// One reply into s.reply, at most max bytes: the byte count, or -1 after marking the cable lost.
int skprb_read(Cable* cable, SkprbState& s, int max);
