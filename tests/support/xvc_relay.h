// An XVC relay for tests and benchmarks: sits on a loopback port between an XVC client and a
// real XVC server and passes the commands through, while it can advertise a smaller vector limit
// (and hold the client to it), delay every reply like a slow network without serialising
// pipelined commands, and cut a connection after a chosen number of bytes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace vireo::test {

struct RelayOptions {
    // The real XVC server, on 127.0.0.1.
    uint16_t upstream_port = 0;
    // 0: getinfo goes to the server. Otherwise the relay answers getinfo itself with
    // "xvcServer_v1.0:<limit>\n", and a shift whose TMS and TDI bytes together exceed the limit
    // closes both connections and counts as a violation. So does a command it cannot parse.
    uint32_t advertised_limit = 0;
    // Added round-trip time: each reply byte reaches the client this long after the server (or
    // the relay, for its own getinfo replies) sent it. Replies in flight overlap, so N commands
    // sent back to back cost about one delay.
    std::chrono::microseconds delay{0};
    // 0: never. Otherwise, once this many client->server bytes of one connection have been
    // forwarded, both of its connections are reset. Only one connection is ever dropped.
    uint64_t drop_after_bytes = 0;
};

class XvcRelay {
  public:
    explicit XvcRelay(RelayOptions options) : options_(options) {}
    ~XvcRelay() { stop(); }
    XvcRelay(const XvcRelay&) = delete;
    XvcRelay& operator=(const XvcRelay&) = delete;

    // Listens on 127.0.0.1 (port chosen by the system) and serves one client at a time on a
    // thread of its own, each through a new connection to the server. False when the socket
    // cannot be had.
    bool start();
    // Ends the thread (within about 100 ms in every state) and closes every socket.
    void stop();
    uint16_t port() const { return port_; }

    // Counters, safe to read from any thread at any time.
    size_t connections() const { return connections_; }
    size_t shifts() const { return shifts_; }                 // shift commands forwarded
    size_t largest_vector_bytes() const { return largest_; }  // largest ceil(n/8) seen
    size_t violations() const { return violations_; }
    bool dropped() const { return dropped_; }

  private:
    class Session;
    void run();

    RelayOptions options_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> connections_{0}, shifts_{0}, largest_{0}, violations_{0};
    std::atomic<bool> dropped_{false};
};

}  // namespace vireo::test
