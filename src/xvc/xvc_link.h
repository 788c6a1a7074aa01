// The client's side of one XVC 1.0 connection: TMS/TDI bits queued into shift vectors of at most
// half the server's announced size, sent back to back without waiting for each reply, and replies
// read in order. Bits whose TDO is wanted name where it goes; sync() waits until every reply up to
// the last bit queued has come back. Every wait is bounded: a server silent for longer loses the
// link for good.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace vireo::xvc {

class XvcLink {
  public:
    XvcLink() = default;
    ~XvcLink();
    XvcLink(const XvcLink&) = delete;
    XvcLink& operator=(const XvcLink&) = delete;

    // Connects to host:port and asks getinfo. Empty on success; otherwise why there is no XVC
    // server there ("connection refused", "it answered 'HTTP/1.0 400'", ...).
    std::string connect(const std::string& host, uint16_t port, std::chrono::milliseconds timeout);
    // The server's announced vector limit in bytes, and the bits of each vector this link sends.
    uint32_t server_limit() const { return server_limit_; }
    uint32_t vector_bits() const { return vector_bits_; }

    // settck with the period in ns, after every queued bit; the period the server answered goes
    // to *answered. False when the link was lost.
    bool set_period(uint32_t period_ns, uint32_t* answered);

    // Queues `count` clocks: TMS as given for all but the last, `last_tms` for the last; TDI from
    // tdi (one byte per bit, nonzero = 1; all 0 when null). When tdo is given, TDO of these
    // clocks is written there (one byte per bit) once their reply has come: call sync() before
    // reading it. False when the link is lost.
    bool clock(size_t count, bool tms, bool last_tms, const uint8_t* tdi, uint8_t* tdo);
    // Sends what is queued without waiting for its replies. False when the link is lost.
    bool flush() { return lost_.empty() && send_vector(); }
    // Sends what is queued and reads every reply outstanding. False when the link is lost.
    bool sync();
    // Why the link was lost; empty while it works.
    const std::string& lost() const { return lost_; }

  private:
    struct Capture {
        uint64_t first;  // clock number of its first bit
        uint64_t count;
        uint8_t* tdo;
    };
    struct InFlight {
        uint64_t first;  // clock number of the vector's first bit
        uint32_t bits;
    };

    bool send_vector();
    // Exactly n bytes (or up to and including a line end when `line`), while no vector is in
    // flight; false after `timeout` without progress or when the server closes.
    bool read_answer(std::vector<uint8_t>* answer, size_t n, bool line,
                     std::chrono::milliseconds timeout);
    // Sends all of `bytes`, reading replies meanwhile so that neither side's buffers fill up
    // and stall both.
    bool send_all(const std::vector<uint8_t>& bytes);
    // Reads what has arrived (waiting up to `wait` for something when nothing has); false when
    // the link is lost.
    bool receive(std::chrono::milliseconds wait);
    void deliver(const InFlight& vector, const uint8_t* tdo);
    bool fail(const std::string& why);

    int fd_ = -1;
    uint32_t server_limit_ = 0;
    uint32_t vector_bits_ = 0;
    std::string lost_;

    // The vector being filled: its first clock number, its bits, packed LSB first.
    uint64_t next_clock_ = 0;
    uint64_t vector_first_ = 0;
    uint32_t vector_fill_ = 0;
    std::vector<uint8_t> tms_, tdi_;

    std::deque<InFlight> in_flight_;
    std::deque<Capture> captures_;
    std::vector<uint8_t> reply_;  // bytes of the oldest vector's reply received so far
    std::vector<uint8_t> command_;
};

}  // namespace vireo::xvc
