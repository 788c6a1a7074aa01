// What the XVC tests share: a server on an ephemeral loopback port whose status lines and
// diagnostics are collected, a blocking client with bounded waits, and the TAP walks that read
// the chain's IDCODEs through shift commands.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/use_virtual_board.h"
#include "xvc/Xvcserver.h"

namespace vireo::test {

using namespace std::chrono_literals;

// Lines reported from the server thread, waited for with a bound.
class Lines {
  public:
    void add(const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
        changed_.notify_all();
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    size_t count(const std::string& text) const {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (const auto& l : lines_) n += l.find(text) != std::string::npos;
        return n;
    }
    // Until `text` has been reported `times` times; false after 5 s.
    bool wait_for(const std::string& text, size_t times = 1) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] {
            size_t n = 0;
            for (const auto& l : lines_) n += l.find(text) != std::string::npos;
            return n >= times;
        });
    }
    std::string joined() const {
        std::string s;
        for (const auto& l : all()) s += "[" + l + "]";
        return s;
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
};

struct TestServer {
    Lines status, out, err;
    std::unique_ptr<xvc::TXvc> server;

    explicit TestServer(std::chrono::milliseconds read_timeout = 5000ms,
                        const std::function<void(xvc::XvcOptions&)>& tune = {}) {
        xvc::XvcOptions options;
        options.address = "127.0.0.1";
        options.port = 0;
        options.read_timeout = read_timeout;
        if (tune) tune(options);
        xvc::XvcReports reports;
        reports.out = [this](const std::string& s) { out.add(s); };
        reports.err = [this](const std::string& s) { err.add(s); };
        server = std::make_unique<xvc::TXvc>(
            options, [this](const std::string& s) { status.add(s); }, reports);
    }
    uint16_t port() const { return server->port(); }
};

// A blocking client; every receive gives up after 5 s.
class Client {
  public:
    // From `source` (a loopback address) when one is given.
    explicit Client(uint16_t port, const char* source = nullptr) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (source) {
            sockaddr_in from{};
            from.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &from.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
        timeval tv{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool send(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool send(const std::string& text) {
        return send(std::vector<uint8_t>(text.begin(), text.end()));
    }
    // Exactly n bytes, or nothing when the connection ends or 5 s pass first.
    std::optional<std::vector<uint8_t>> receive(size_t n) {
        std::vector<uint8_t> bytes(n);
        size_t done = 0;
        while (done < n) {
            const ssize_t got = ::recv(fd_, bytes.data() + done, n - done, 0);
            if (got <= 0) return std::nullopt;
            done += static_cast<size_t>(got);
        }
        return bytes;
    }
    // True when the server closes the connection (end of stream) without sending anything.
    bool closed_by_server() {
        uint8_t byte;
        return ::recv(fd_, &byte, 1, 0) == 0;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

inline std::vector<uint8_t> shift_command(uint32_t bits, const std::vector<uint8_t>& tms,
                                          const std::vector<uint8_t>& tdi) {
    std::vector<uint8_t> c(10 + tms.size() + tdi.size());
    const char* word = "shift:";
    std::copy(word, word + 6, c.begin());
    for (int i = 0; i < 4; ++i) c[6 + i] = static_cast<uint8_t>(bits >> (8 * i));
    std::copy(tms.begin(), tms.end(), c.begin() + 10);
    std::copy(tdi.begin(), tdi.end(), c.begin() + 10 + static_cast<std::ptrdiff_t>(tms.size()));
    return c;
}

// A vector of single bits, packed LSB first as XVC carries it.
struct BitVector {
    std::vector<bool> tms, tdi;
    void add(bool tms_bit, bool tdi_bit = false) {
        tms.push_back(tms_bit);
        tdi.push_back(tdi_bit);
    }
    static std::vector<uint8_t> pack(const std::vector<bool>& bits) {
        std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i]) bytes[i / 8] |= static_cast<uint8_t>(1 << (i % 8));
        return bytes;
    }
    std::vector<uint8_t> command() const {
        return shift_command(static_cast<uint32_t>(tms.size()), pack(tms), pack(tdi));
    }
    size_t reply_bytes() const { return (tms.size() + 7) / 8; }
};

inline bool bit(const std::vector<uint8_t>& bytes, size_t i) {
    return (bytes[i / 8] >> (i % 8)) & 1;
}

// Test-Logic-Reset (IDCODE selected everywhere), then Shift-DR: `devices` 32-bit IDCODEs
// follow, the TDO end's first; back to Run-Test/Idle. The IDCODE bits start at reply bit 9.
inline BitVector idcode_walk(size_t devices) {
    BitVector v;
    for (int i = 0; i < 5; ++i) v.add(true);
    v.add(false);  // Run-Test/Idle
    v.add(true);   // Select-DR
    v.add(false);  // Capture-DR
    v.add(false);  // Shift-DR
    for (size_t i = 0; i < 32 * devices; ++i) v.add(i + 1 == 32 * devices);
    v.add(true);   // Update-DR
    v.add(false);  // Run-Test/Idle
    return v;
}
constexpr size_t kIdcodeFirstBit = 9;

inline std::vector<uint32_t> idcodes_in(const std::vector<uint8_t>& tdo, size_t devices) {
    std::vector<uint32_t> ids(devices, 0);
    for (size_t d = 0; d < devices; ++d)
        for (size_t b = 0; b < 32; ++b)
            if (bit(tdo, kIdcodeFirstBit + 32 * d + b)) ids[d] |= 1u << b;
    return ids;
}

}  // namespace vireo::test
