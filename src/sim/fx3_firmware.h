// The JTAG firmware of the FX3 boards: takes the "TK" command packets of the bulk OUT endpoint,
// drives the board's TAP chain and queues the replies that bulk IN requests pick up.
//
// Commands: "X" / "E" enter / leave JTAG mode; "V" replies with the version text; "Q" with the
// status (byte 0: bit 0 running, bit 1 JTAG mode, bit 4 SuperSpeed; byte 1: user pins); "M" b
// gives one TCK with TMS = bit 0 of b and TDI 0; "S" len mode data shifts packed TDI (mode bit 0:
// TMS high on the last bit, bit 1: reply with the packed TDO); "F" n16 then n bytes, one TDI bit
// each; "W" u32 waits the microseconds; 0x03 b sets the user pins; "x" n16 then per byte index a
// TMS byte and a TDI byte, replying with the packed TDO; 0x00 ends a batch. An unknown byte is
// skipped.
//
// Packets and batches. A packet is one bulk OUT transfer starting with "TK"; a transfer without
// it is dropped. A full packet (32768 bytes) may end inside a command, which then continues after
// the "TK" of the next packet. The reply bytes of one transfer's commands go out as one bulk IN
// transfer.
//
// Long "S" chunks. The length byte carries only the bit count modulo 256 (0 for 256), which is
// enough for the chunks of at most 256 bits of a scan. Idle clocking sends chunks of up to 1000
// bits the same way, always as the batch's last command: "S" len mode, k data bytes, one 0x00
// ending the transfer. The rule: an "S" with mode bit 0 clear is a long chunk when the rest of its
// transfer after the mode byte is exactly k data bytes plus a final 0x00, with k = d + 32j
// (d = the bytes of the short reading, j >= 1, k <= 125), and either mode bit 1 is set or all k
// bytes are zero; it then clocks m = len + 256j bits (len 0 counting as 256), the unique m with
// m = len (mod 256) and ceil(m/8) = k. A short "S" of a scan never matches: a capturing chunk is
// always followed directly by the final 0x00, and a non-capturing one either by the final 0x00 or
// by another command, whose first byte is not zero. An "S" with mode bit 0 clear near the end of a
// full packet is held until the next transfer (or a bulk IN request) shows where the batch ends.
//
// Waits. A transfer holding one command byte right after a transfer that ended with a "W" is the
// wait's repeated top byte and is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

#include "sim/tap_chain.h"

namespace vireo::sim {

// The identification text our driver looks for in the "V" reply, and the firmware version.
inline constexpr std::string_view kFx3FirmwareId = "NORVALE-FX3-JTAG";
inline constexpr int kFx3FirmwareVersion = 105;
inline constexpr size_t kFx3PacketSize = 32768;

class Fx3Firmware {
  public:
    Fx3Firmware(TapChain& chain, bool superspeed) : chain_(chain), superspeed_(superspeed) {}

    // One bulk OUT transfer.
    void receive(const uint8_t* data, size_t length);
    // One bulk IN request: settles a held batch, then moves the oldest reply into *reply and
    // the modeled time it was complete into *ready_ns. False when nothing is waiting (the
    // host's read times out).
    bool take_reply(std::vector<uint8_t>* reply, uint64_t* ready_ns = nullptr);

    bool jtag_mode() const { return jtag_mode_; }
    uint8_t pin_flags() const { return pin_flags_; }
    // The "V" reply: "V", the decimal version, a blank, then the readable text.
    static std::vector<uint8_t> version_reply();

  private:
    void run(bool batch_end);
    // Bytes of the command at pending_[pos], or 0 when more bytes must arrive first.
    size_t command_size(size_t pos, bool batch_end) const;
    size_t shift_size(size_t pos, bool batch_end) const;
    void execute(const uint8_t* cmd, size_t size);
    void shift(const uint8_t* cmd, size_t size);
    void vector_shift(const uint8_t* cmd);
    void commit_reply();

    TapChain& chain_;
    bool superspeed_;
    bool jtag_mode_ = false;
    uint8_t pin_flags_ = 0x33;
    bool last_ended_with_wait_ = false;
    std::vector<uint8_t> pending_;  // command bytes not yet executed
    std::vector<uint8_t> reply_;    // reply of the transfer being executed
    struct Reply {
        std::vector<uint8_t> bytes;
        uint64_t ready_ns;
    };
    std::deque<Reply> replies_;
};

}  // namespace vireo::sim
