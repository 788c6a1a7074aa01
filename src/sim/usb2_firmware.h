// Firmware of the maker's USB 2.0 JTAG cables and boards: the product string, the control
// requests on the short pipes and the two JTAG command sets on the stream pipes, run against a
// board's TapChain.
//
// Pipes: 0 command stream (OUT), 2 TDO stream (IN), 4 control (OUT), 5 control reply (IN).
// Control requests (first byte of a pipe-4 write): 0x04 init, 0x06 alive check (64-byte reply,
// byte 0 = 1), 0x09 version (64-byte reply: major, minor).
//
// Stream commands of both command sets:
//   0x00               no operation (ends every batch)
//   0x03 p             user pins: the pin register becomes p
//   0x33               user pins back to their power-up register 0x33 (sent by init)
//   0x04 m             mode byte; replies 256 bytes: status (bit 0 = target powered), m
//   0x06 t0 t1 t2 t3   wait t ticks of 1.91 us (little-endian)
// Command set 1:
//   0x02 s             one TCK with TMS = bit 0 of s, TDI 0
//   0x08 n m data      n TCKs (0 = 256), TDI packed LSB first in ceil(n/8) bytes; m bit 0 raises
//                      TMS on the last one, bit 1 replies 256 bytes of TDO packed the same way
// Command set 2:
//   0x10|0x11 n k bits (k - 1) * 256 + n TCKs (n 0 = 256, k 1 or 2), one byte per TCK:
//                      0x08 = TDI, 0x80 = TMS; 0x11 replies 512 bytes, TDO in bit 1 of byte i
//
// A command may be split over two stream writes (the host flushes its queue when it is full);
// the rest waits for the next write. Bytes that start no known command are skipped. Replies
// queue on their IN pipe until read.
//
// A chip with a limited number of IN buffers (Usb2Identity::in_buffers) hands each stream reply,
// one USB packet, to an IN transfer the host has posted, else keeps it in a free buffer; with
// neither, the command that would reply does not run, nor anything after it in that OUT
// transfer: receive gives false, as the host sees a transfer NAKed until its time-out (failed at
// once here, not held for a read posted later). The host tells the model of its IN transfers:
// posted (post_in), and done with (end_in).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_config.h"
#include "sim/tap_chain.h"

namespace vireo::sim {

struct Usb2Identity {
    std::string product;           // string descriptor 2
    int protocol = 1;              // command set on the stream pipes
    uint8_t major = 1, minor = 0;  // answer to the version request
    // IN buffers the chip holds stream replies in; 0: no limit (replies queue until read).
    size_t in_buffers = 0;
};

// The identity of a USB 2.0 board or cable preset (the fw= option picks a board's version:
// 1.2 and later speak command set 2, older ones command set 1); nullopt for other transports.
std::optional<Usb2Identity> usb2_identity(const SimConfig& config);

class Usb2Firmware {
  public:
    static constexpr size_t kShortReply = 64;
    static constexpr size_t kStreamReply1 = 256;
    static constexpr size_t kStreamReply2 = 512;

    explicit Usb2Firmware(Usb2Identity identity);

    const Usb2Identity& identity() const { return id_; }
    // String descriptor as sent on the bus: length, type 3, UTF-16LE text. Index 2 is the
    // product; other indexes have no text.
    std::vector<uint8_t> string_descriptor(uint8_t index) const;

    // Bytes arriving on OUT pipe 0 or 4; false for any other pipe.
    bool receive(int pipe, const uint8_t* data, size_t size, TapChain& chain);
    // Moves up to max bytes of the replies waiting on IN pipe 2 or 5 into out; 0 when none wait.
    size_t reply(int pipe, uint8_t* out, size_t max);
    size_t pending(int pipe) const;

    // An IN transfer of `size` bytes posted on the stream pipe: it takes the replies kept in
    // buffers, oldest first, then the next ones, until it is full or a short packet ends it.
    void post_in(size_t size);
    // The transfers posted so far, counted from 1 in the order posted.
    uint64_t in_posted() const { return in_posted_; }
    // The host is done with the transfers up to the n-th: those still open take no more replies.
    void end_in(uint64_t n);

    uint8_t pins() const { return pins_; }
    uint8_t mode() const { return mode_; }
    uint64_t skipped_bytes() const { return skipped_; }

  private:
    void control(const uint8_t* data, size_t size);
    // Runs the command at the start of [p, end); returns its length, or 0 when incomplete.
    size_t run_command(const uint8_t* p, const uint8_t* end, TapChain& chain);
    size_t shift1(const uint8_t* p, size_t avail, TapChain& chain);
    size_t packet2(const uint8_t* p, size_t avail, TapChain& chain);
    // Whether a reply can go out now; when not, the write stalls (run_command then gives 0).
    bool room_for_reply();
    void push_reply(const uint8_t* data, size_t n);
    void give_in(size_t packet);  // one reply packet into the oldest open IN transfer

    // Replies waiting on one IN pipe.
    struct Fifo {
        std::vector<uint8_t> bytes;
        size_t head = 0;
        size_t size() const { return bytes.size() - head; }
        void push(const uint8_t* data, size_t n) { bytes.insert(bytes.end(), data, data + n); }
        size_t pop(uint8_t* out, size_t max);
        void clear() { bytes.clear(), head = 0; }
    };

    Usb2Identity id_;
    std::vector<uint8_t> partial_;  // start of a command whose operands have not all arrived
    Fifo stream_out_, control_out_;
    uint8_t pins_ = 0x33;
    uint8_t mode_ = 0;
    uint64_t skipped_ = 0;
    std::vector<uint8_t> tdo_;  // scratch
    // With limited IN buffers: the reply packets kept in buffers (their sizes), the bytes the
    // open IN transfers still take (oldest first), and the transfers posted and ended so far.
    std::deque<size_t> held_, open_in_;
    uint64_t in_posted_ = 0, in_ended_ = 0;
    bool stalled_ = false;
};

}  // namespace vireo::sim
