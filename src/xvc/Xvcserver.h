// The XVC 1.0 server (TXvc): lends the FX3 board's JTAG port to network tools through the Xilinx
// Virtual Cable protocol. It runs on a thread of its own, listens on one TCP port and serves one
// client at a time: the board is opened for each accepted connection and closed when it ends.
// A second client while one is served is closed at once, so that two tools never interleave
// their vectors on one TAP. Status lines go to the sink the front end gives (called on the
// server thread); diagnostics to standard output and error unless the front end redirects them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "xvc/xvc_cable.h"

namespace vireo::xvc {

inline constexpr uint16_t kXvcDefaultPort = 2542;

struct XvcOptions {
    // Dotted IPv4 address to listen on; 0.0.0.0 is every local address.
    std::string address = "0.0.0.0";
    // 0 lets the system choose (read it back with port()).
    uint16_t port = kXvcDefaultPort;
    // A command whose bytes stop arriving for this long ends its connection, so that a stalled
    // client cannot hold the board.
    std::chrono::milliseconds read_timeout{10000};
    // A client silent between commands for this long is disconnected, so that one that vanished
    // frees the board; zero never disconnects.
    std::chrono::milliseconds idle_timeout{std::chrono::minutes(10)};
    // The peers let in, each "ADDR" or "ADDR/PREFIX"; empty lets in every peer. Every other peer
    // is closed before the board is opened for it.
    std::vector<std::string> allow;
};

class TXvc {
  public:
    using StatusSink = std::function<void(const std::string&)>;

    // reports.out / reports.err left empty print to standard output / error.
    TXvc(XvcOptions options, StatusSink status, XvcReports reports = {});
    // Stops the server and waits for its thread.
    ~TXvc();
    TXvc(const TXvc&) = delete;
    TXvc& operator=(const TXvc&) = delete;

    // Binds and listens on the caller's thread, then starts serving on the server thread. False
    // (after reporting on the error stream) when an allow entry is not a network or the socket
    // cannot be had, bound or listened on.
    // A server runs once: the window makes a new one for each press of its toggle button.
    [[nodiscard]] bool start();
    // The port listened on, once started.
    uint16_t port() const { return port_; }
    // Asks the thread to end; returns at once. It ends within a second in every state.
    void request_stop();
    // Asks the thread to end and waits for it ("XVC Server terminated" has been reported then).
    void stop();
    // True from start until the thread has ended.
    bool running() const { return running_.load(); }

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    uint16_t port_ = 0;
};

}  // namespace vireo::xvc
