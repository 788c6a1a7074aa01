// The relay runs one thread: it waits for a client, connects to the server for it, and moves
// bytes both ways with non-blocking sockets under poll. The client's bytes are split into
// commands as they arrive, so that the relay knows each command's reply size: that keeps the
// replies it gives itself in order with the server's, and lets it check each shift's size before
// the server sees it. Replies pass through a delay line of time-stamped chunks.
#include "support/xvc_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

namespace vireo::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollMs = 100;          // the longest wait before the stop flag is looked at again
constexpr size_t kBacklog = 1 << 16;  // bytes queued one way before the relay stops reading

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void no_delay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// `abrupt`: with a reset instead of an orderly end, as when the network loses the connection.
void close_socket(int fd, bool abrupt) {
    const linger hard{1, 0};
    if (abrupt) ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

// Sends what the socket takes now from the front of `bytes`; false when the peer is gone.
bool send_some(int fd, std::string& bytes) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    bytes.erase(0, static_cast<size_t>(n));
    return true;
}

// Reads what is there into `bytes`; false at the end of the stream or on an error. Every
// receive is acknowledged at once, as our server does: a client that writes a command's header
// and its vectors apart with Nagle on would otherwise wait for a delayed acknowledgement.
bool receive_some(int fd, std::string& bytes) {
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    bytes.append(buffer, static_cast<size_t>(n));
    return n > 0;
}

}  // namespace

class XvcRelay::Session {
  public:
    Session(XvcRelay& relay, int client, int upstream)
        : relay_(relay), opt_(relay.options_), client_(client), upstream_(upstream) {}

    // Relays until a side ends, a violation, the drop or stop; then closes both sockets.
    void run() {
        bool ok = true;
        while (ok && !relay_.stop_) {
            const auto now = Clock::now();
            while (!delay_line_.empty() && delay_line_.front().first <= now) {
                to_client_ += delay_line_.front().second;
                delayed_bytes_ -= delay_line_.front().second.size();
                delay_line_.pop_front();
            }
            if (dropping_ && to_server_.empty()) break;
            int wait = kPollMs;
            if (!delay_line_.empty()) {
                const auto due = delay_line_.front().first - now;
                wait = static_cast<int>(std::min<int64_t>(
                    std::chrono::ceil<std::chrono::milliseconds>(due).count(), kPollMs));
            }
            const bool read_client = !dropping_ && to_server_.size() < kBacklog;
            const bool read_server = delayed_bytes_ + to_client_.size() < kBacklog;
            const int client_events =
                (read_client ? POLLIN : 0) | (to_client_.empty() ? 0 : POLLOUT);
            const int server_events =
                (read_server ? POLLIN : 0) | (to_server_.empty() ? 0 : POLLOUT);
            pollfd fds[2] = {{client_, static_cast<short>(client_events), 0},
                             {upstream_, static_cast<short>(server_events), 0}};
            if (::poll(fds, 2, wait) < 0 && errno != EINTR) break;
            constexpr short kReadable = POLLIN | POLLHUP | POLLERR;
            if (fds[0].revents & kReadable) {
                ok = receive_some(client_, from_client_);
                if (ok && !parse()) {
                    ++relay_.violations_;
                    ok = false;
                }
            }
            if (ok && (fds[1].revents & kReadable)) {
                std::string reply;
                ok = receive_some(upstream_, reply);
                from_server(reply);
            }
            if (ok && (fds[0].revents & POLLOUT)) ok = send_some(client_, to_client_);
            if (ok && (fds[1].revents & POLLOUT)) ok = send_some(upstream_, to_server_);
        }
        close_socket(client_, dropping_);
        close_socket(upstream_, dropping_);
    }

  private:
    // A reply the client is owed, in command order: `bytes` from the server, the server's line
    // up to '\n', or (bytes 0, line false) the relay's own `text`, due once those before it are.
    struct Owed {
        size_t bytes = 0;
        bool line = false;
        std::string text;
    };

    // Takes the complete command headers from the client's bytes and forwards them (bodies as
    // they arrive); false on a command that is over the limit or not XVC.
    bool parse() {
        while (!from_client_.empty() && !dropping_) {
            if (body_left_ > 0) {
                const size_t n = std::min(body_left_, from_client_.size());
                body_left_ -= n;
                forward(n);
                continue;
            }
            const std::string& in = from_client_;
            auto is = [&](std::string_view word) { return in.starts_with(word); };
            auto may_become = [&](std::string_view word) { return word.starts_with(in); };
            if (is("getinfo:") && opt_.advertised_limit != 0) {
                from_client_.erase(0, 8);
                owe({0, false, "xvcServer_v1.0:" + std::to_string(opt_.advertised_limit) + "\n"});
            } else if (is("getinfo:")) {
                owe({0, true, {}});
                forward(8);
            } else if (is("settck:")) {
                if (in.size() < 11) return true;
                owe({4, false, {}});
                forward(11);
            } else if (is("shift:")) {
                if (in.size() < 10) return true;
                uint32_t bits = 0;
                for (int i = 0; i < 4; ++i) bits |= uint32_t{uint8_t(in[6 + i])} << (8 * i);
                const size_t bytes = (size_t{bits} + 7) / 8;
                relay_.largest_ = std::max<size_t>(relay_.largest_, bytes);
                if (opt_.advertised_limit != 0 && 2 * bytes > opt_.advertised_limit) return false;
                ++relay_.shifts_;
                owe({bytes, false, {}});
                forward(10);
                body_left_ = 2 * bytes;
            } else {
                return may_become("getinfo:") || may_become("settck:") || may_become("shift:");
            }
        }
        return true;
    }

    // Moves n client bytes to the server, as far as the drop allows.
    void forward(size_t n) {
        uint64_t take = n;
        const bool armed = opt_.drop_after_bytes != 0 && !relay_.dropped_;
        if (armed) take = std::min<uint64_t>(take, opt_.drop_after_bytes - forwarded_);
        to_server_.append(from_client_, 0, take);
        from_client_.erase(0, n);
        forwarded_ += take;
        if (armed && forwarded_ >= opt_.drop_after_bytes) dropping_ = relay_.dropped_ = true;
    }

    void owe(Owed reply) {
        owed_.push_back(std::move(reply));
        settle();
    }

    // Puts the server's reply bytes on the delay line, the relay's own replies between them.
    void from_server(std::string_view reply) {
        while (!reply.empty()) {
            size_t take = reply.size();  // bytes nobody is owed pass through
            if (!owed_.empty() && owed_.front().line) {
                const size_t end = reply.find('\n');
                if (end != std::string_view::npos) {
                    take = end + 1;
                    owed_.pop_front();
                }
            } else if (!owed_.empty()) {
                take = std::min(take, owed_.front().bytes);
                owed_.front().bytes -= take;
            }
            send_later(std::string(reply.substr(0, take)));
            reply.remove_prefix(take);
            settle();
        }
    }

    // Pops the replies at the front that are complete: the relay's own go on the delay line.
    void settle() {
        while (!owed_.empty() && owed_.front().bytes == 0 && !owed_.front().line) {
            send_later(std::move(owed_.front().text));
            owed_.pop_front();
        }
    }

    void send_later(std::string bytes) {
        if (bytes.empty()) return;
        delayed_bytes_ += bytes.size();
        delay_line_.emplace_back(Clock::now() + opt_.delay, std::move(bytes));
    }

    XvcRelay& relay_;
    const RelayOptions& opt_;
    const int client_, upstream_;
    std::string from_client_;  // received, not yet forwarded
    std::string to_server_, to_client_;
    size_t body_left_ = 0;  // vector bytes of the current shift still to come
    uint64_t forwarded_ = 0;
    bool dropping_ = false;
    std::deque<Owed> owed_;
    std::deque<std::pair<Clock::time_point, std::string>> delay_line_;
    size_t delayed_bytes_ = 0;
};

bool XvcRelay::start() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_fd_, 4) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return false;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
    return true;
}

void XvcRelay::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
}

void XvcRelay::run() {
    while (!stop_) {
        pollfd listening{listen_fd_, POLLIN, 0};
        if (::poll(&listening, 1, kPollMs) <= 0) continue;
        const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) continue;
        ++connections_;
        // A non-blocking connect, so that even a server that does not accept cannot hold stop.
        const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const sockaddr_in server = loopback(options_.upstream_port);
        bool connected =
            upstream >= 0 &&
            (::connect(upstream, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0 ||
             errno == EINPROGRESS);
        pollfd pending{upstream, POLLOUT, 0};
        while (connected && !stop_ && ::poll(&pending, 1, kPollMs) == 0) {
        }
        int error = 0;
        socklen_t size = sizeof error;
        connected = connected && !stop_ &&
                    ::getsockopt(upstream, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        if (!connected) {
            close_socket(client, false);
            if (upstream >= 0) close_socket(upstream, false);
            continue;
        }
        no_delay(client);
        no_delay(upstream);
        Session(*this, client, upstream).run();
    }
}

}  // namespace vireo::test
