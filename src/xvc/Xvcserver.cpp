#include "xvc/Xvcserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "cables/fx3.h"
#include "cables/usb_ids.h"
#include "jtag/lang.h"
#include "xvc/xvc_access.h"
#include "xvc/xvc_command.h"

namespace vireo::xvc {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBacklog = 5;
// The longest the thread sleeps in poll before it looks at the stop request again; the wake
// pipe normally ends the wait at once.
constexpr int kPollSliceMs = 250;
// Keep-alive probes on a client's socket: after a minute of silence, every 10 s, and the
// connection is dropped after 6 unanswered ones, so a client whose host vanished frees the board
// within about two minutes even with the idle time-out off.
constexpr int kKeepIdleS = 60, kKeepIntervalS = 10, kKeepCount = 6;

// One file descriptor, closed when the owner goes.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

std::string system_error(const char* title) {
    return std::string(title) + ": " + std::strerror(errno) + "\n";
}

std::string peer_text(const sockaddr_in& peer) {
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text)) return "?";
    return text;
}

// Acknowledges what arrived at once. Clients that send a command's header and its vectors in two
// writes with Nagle's algorithm on (openFPGALoader) hold the vectors back until the header is
// acknowledged, and a delayed acknowledgement costs them some 40 ms per command. Linux leaves
// quick-ack mode by itself, so it is set again after every receive.
void quick_ack(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

// TCP_NODELAY and keep-alive on a new client's socket: the error report's title of the first
// option that could not be set, or nothing.
const char* tune_client_socket(int fd) {
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return "TCP_NODELAY error";
    const int keep[][2] = {
        {TCP_KEEPIDLE, kKeepIdleS}, {TCP_KEEPINTVL, kKeepIntervalS}, {TCP_KEEPCNT, kKeepCount}};
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) return "keep-alive error";
    for (const auto& [option, value] : keep)
        if (::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value) != 0)
            return "keep-alive error";
    return nullptr;
}

// "600 s", or "300 ms" for what is not whole seconds.
std::string duration_text(std::chrono::milliseconds time) {
    if (time.count() % 1000 == 0) return std::to_string(time.count() / 1000) + " s";
    return std::to_string(time.count()) + " ms";
}

std::string joined(const std::vector<std::string>& texts) {
    std::string s;
    for (const std::string& t : texts) s += (s.empty() ? "" : ", ") + t;
    return s;
}

// True when an FX3 board running its firmware can be opened now (opened and closed again).
bool fx3_board_present() {
    uint16_t vid = 0, pid = 0;
    char text[100] = {};
    int generation = 0;
    if (!fx3_open_tracked(0, &vid, &pid, text, sizeof text, &generation)) return false;
    fx3_release(generation);
    return is_fx3_board(vid, pid);
}

}  // namespace

class TXvc::Impl {
  public:
    Impl(XvcOptions options, StatusSink status, XvcReports reports)
        : options_(std::move(options)), reports_(std::move(reports)) {
        reports_.status = std::move(status);
        if (!reports_.out)
            reports_.out = [](const std::string& s) {
                std::fwrite(s.data(), 1, s.size(), stdout);
                std::fflush(stdout);
            };
        if (!reports_.err)
            reports_.err = [](const std::string& s) { std::fwrite(s.data(), 1, s.size(), stderr); };
    }

    bool listen(uint16_t* port);
    void run();
    void request_stop() {
        stop_.store(true);
        const uint8_t byte = 1;
        // A full pipe already holds a wake-up; nothing is lost when this write fails.
        [[maybe_unused]] const ssize_t n = ::write(wake_write_.get(), &byte, 1);
    }

  private:
    class SocketInput;
    enum class Wait { Ready, Stopped, TimedOut, Failed };

    void status(const std::string& line) const {
        if (reports_.status) reports_.status(line);
    }
    // What the operator must know before the first client: who may connect, and whether a board
    // is there to serve them.
    void announce(uint16_t port) const;
    void accept_client();
    // Serves one command of the client; false when its connection is over.
    bool serve();
    void end_client();
    // True when the client has closed its end and sent nothing more.
    bool client_gone() const;
    // Milliseconds until the client has been idle too long (poll's time-out); -1 when never.
    int idle_left_ms() const;
    // Waits until fd has `events` or the deadline passes, meanwhile turning away newcomers.
    Wait wait_for(int fd, short events, Clock::time_point deadline);
    bool send_all(std::span<const uint8_t> bytes, Clock::time_point deadline);

    XvcOptions options_;
    XvcReports reports_;
    std::atomic<bool> stop_{false};
    Fd listener_, wake_read_, wake_write_, client_;
    std::string client_peer_;
    Clock::time_point client_active_;  // the end of the client's last command
    std::vector<XvcNet> allowed_;
    std::optional<XvcCable> cable_;
    XvcCommand command_;
    std::vector<uint8_t> tdo_;
    bool timed_out_ = false;
};

// The client's socket as the command reader's byte stream, bounded by the command's deadline.
class TXvc::Impl::SocketInput final : public XvcInput {
  public:
    SocketInput(Impl& server, Clock::time_point deadline) : server_(server), deadline_(deadline) {}

    bool read_exact(std::span<uint8_t> bytes) override {
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n =
                ::recv(server_.client_.get(), bytes.data() + got, bytes.size() - got, MSG_DONTWAIT);
            if (n > 0) {
                got += static_cast<size_t>(n);
                quick_ack(server_.client_.get());
                continue;
            }
            if (n == 0) return false;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            const Wait w = server_.wait_for(server_.client_.get(), POLLIN, deadline_);
            if (w == Wait::TimedOut) server_.timed_out_ = true;
            if (w != Wait::Ready) return false;
        }
        return true;
    }

  private:
    Impl& server_;
    Clock::time_point deadline_;
};

bool TXvc::Impl::listen(uint16_t* port) {
    if (std::string problem = xvc_parse_nets(options_.allow, &allowed_); !problem.empty()) {
        reports_.err("allow: " + problem + "\n");
        return false;
    }
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        reports_.err(system_error("pipe"));
        return false;
    }
    wake_read_ = Fd(pipe_fds[0]);
    wake_write_ = Fd(pipe_fds[1]);
    listener_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener_) {
        reports_.err(system_error(tr_ja("socketを作れません")));
        return false;
    }
    const int on = 1;
    ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.address.c_str(), &address.sin_addr) != 1) {
        reports_.err("bind: not an IPv4 address: '" + options_.address + "'\n");
        return false;
    }
    if (::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // Which address and port: the user may not know the default they ran into.
        std::string why = system_error("bind");
        why.insert(why.size() - 1,
                   " (" + options_.address + " port " + std::to_string(options_.port) + ")");
        reports_.err(why);
        return false;
    }
    if (::listen(listener_.get(), kBacklog) != 0) {
        reports_.err(system_error("listen"));
        return false;
    }
    socklen_t length = sizeof address;
    if (::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        reports_.err(system_error("bind"));
        return false;
    }
    *port = ntohs(address.sin_port);
    return true;
}

void TXvc::Impl::run() {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    status("Listening port " + std::to_string(ntohs(bound.sin_port)));
    announce(ntohs(bound.sin_port));
    while (!stop_.load()) {
        pollfd fds[3] = {{wake_read_.get(), POLLIN, 0},
                         {listener_.get(), POLLIN, 0},
                         {client_.get(), POLLIN, 0}};
        const nfds_t count = client_ ? 3 : 2;
        const int idle_left = client_ ? idle_left_ms() : -1;
        const int ready =
            ::poll(fds, count, idle_left < 0 ? kPollSliceMs : std::min(idle_left, kPollSliceMs));
        if (ready < 0) {
            if (errno == EINTR) continue;
            reports_.err(system_error("select"));
            break;
        }
        if (stop_.load()) break;
        // The client first: one that closed and at once reconnected must be gone before the
        // newcomer is looked at, or the newcomer would be turned away as a second client.
        if (count == 3 && fds[2].revents) {
            if (fds[2].revents & (POLLIN | POLLHUP)) {
                if (serve())
                    client_active_ = Clock::now();
                else
                    end_client();
            } else {
                status("Connection aborted");
                client_.reset();
                cable_.reset();
            }
        } else if (count == 3 && idle_left_ms() == 0) {
            status("Connection from " + client_peer_ + " idle for " +
                   duration_text(options_.idle_timeout) + ": closed so that the board is free");
            end_client();
        }
        if (fds[1].revents & POLLIN) {
            if (client_ && client_gone()) end_client();
            accept_client();
        } else if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // Only the listening ends: a client being served keeps the board until it is done,
            // and the server runs until it is stopped (poll skips the closed listener's -1).
            status("Connection aborted");
            listener_.reset();
        }
    }
    if (client_) end_client();
    listener_.reset();
    status("XVC Server terminated");
}

void TXvc::Impl::announce(uint16_t port) const {
    const bool everyone = std::any_of(allowed_.begin(), allowed_.end(),
                                      [](const XvcNet& net) { return net.mask == 0; });
    if (!allowed_.empty() && !everyone) {
        status("Clients are let in only from " + joined(options_.allow));
    } else if (xvc_beyond_loopback(options_.address)) {
        status("Warning: any host that reaches port " + std::to_string(port) +
               " can drive the JTAG chain; an allow list, or listening on 127.0.0.1, limits who "
               "may connect");
    }
    if (!fx3_board_present()) {
        status(
            "No FX3 board is plugged in: clients are refused until one is (USB 2.0 cables "
            "and boards cannot serve XVC)");
    }
}

bool TXvc::Impl::client_gone() const {
    uint8_t byte = 0;
    const ssize_t n = ::recv(client_.get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

int TXvc::Impl::idle_left_ms() const {
    if (options_.idle_timeout.count() <= 0) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        client_active_ + options_.idle_timeout - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, kPollSliceMs));
}

void TXvc::Impl::accept_client() {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    Fd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &length,
                    SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
        // A connection that went away before it was accepted leaves nothing to do.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
            reports_.err(system_error("accept err"));
        }
        return;
    }
    const std::string who = peer_text(peer);
    if (!allowed_.empty() && !xvc_net_allows(allowed_, ntohl(peer.sin_addr.s_addr))) {
        status("Connection from " + who + " refused: not an allowed address");
        return;
    }
    if (client_) {
        // The board serves one client: vectors of two tools interleaved on one TAP would
        // corrupt both. The newcomer is closed unanswered; the served client goes on.
        status("Connection from " + who + " refused: the cable is in use by " + client_peer_);
        return;
    }
    if (const char* failed = tune_client_socket(fd.get())) reports_.err(system_error(failed));
    cable_.emplace(reports_);
    if (!cable_->open()) {
        cable_.reset();
        status("KeenProbe open failed");
        status("Connection from " + who + " closed: no FX3 board to serve it");
        return;  // fd closes the new connection; the server keeps listening
    }
    status("Connected from " + who);
    client_ = std::move(fd);
    client_peer_ = who;
    client_active_ = Clock::now();
}

void TXvc::Impl::end_client() {
    status("connection closed\n");
    client_.reset();
    cable_.reset();
}

TXvc::Impl::Wait TXvc::Impl::wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        if (stop_.load()) return Wait::Stopped;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return Wait::TimedOut;
        pollfd fds[3] = {
            {fd, events, 0}, {wake_read_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
        const int slice = static_cast<int>(std::min<int64_t>(left.count() + 1, kPollSliceMs));
        const int ready = ::poll(fds, 3, slice);
        if (ready < 0 && errno != EINTR) return Wait::Failed;
        if (ready <= 0) continue;
        if (fds[1].revents) return Wait::Stopped;
        if (fds[0].revents) return Wait::Ready;
        if (fds[2].revents & POLLIN) accept_client();  // turned away: a client is served
    }
}

bool TXvc::Impl::send_all(std::span<const uint8_t> bytes, Clock::time_point deadline) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(client_.get(), bytes.data() + sent, bytes.size() - sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            wait_for(client_.get(), POLLOUT, deadline) == Wait::Ready) {
            continue;
        }
        reports_.err(system_error("write"));
        return false;
    }
    return true;
}

bool TXvc::Impl::serve() {
    const Clock::time_point deadline = Clock::now() + options_.read_timeout;
    SocketInput input(*this, deadline);
    timed_out_ = false;
    const XvcRead read = xvc_read_command(input, &command_);
    if (timed_out_) status("Connection timed out in the middle of a command");
    switch (read) {
        case XvcRead::GetInfo: {
            reports_.out(std::string(kXvcInfo) + "\n");
            const auto* info = reinterpret_cast<const uint8_t*>(kXvcInfo);
            return send_all(std::span(info, sizeof kXvcInfo - 1), deadline);
        }
        case XvcRead::SetTck: {
            // The period as the number it is: its four raw bytes could be terminal controls.
            uint32_t period = 0;
            for (size_t i = 0; i < command_.period.size() && i < 4; ++i)
                period |= uint32_t{command_.period[i]} << (8 * i);
            reports_.out("settck " + std::to_string(period) + " ns\n\n");
            return send_all(command_.period, deadline);
        }
        case XvcRead::Shift:
            break;
        case XvcRead::Closed:
            return false;
        case XvcRead::Invalid:
            reports_.err(xvc_invalid_text(command_.head));
            return false;
        case XvcRead::LengthFailed:
            reports_.err("reading length failed\n");
            return false;
        case XvcRead::TooLarge:
            reports_.err("buffer size exceeded\n");
            return false;
        case XvcRead::DataFailed:
            reports_.err("reading data failed\n");
            return false;
    }
    switch (cable_->shift(command_.bits, command_.tms, command_.tdi, &tdo_)) {
        case XvcShift::Done:
            return send_all(tdo_, deadline);
        case XvcShift::Lost:
            status("KeenProbe lost: the cable no longer answers");
            return false;
        case XvcShift::Short:
            status("KeenProbe answered short: TDO incomplete");
            return false;
    }
    return false;
}

TXvc::TXvc(XvcOptions options, StatusSink status, XvcReports reports)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(status), std::move(reports))) {}

TXvc::~TXvc() {
    stop();
}

bool TXvc::start() {
    if (thread_.joinable()) return false;
    if (!impl_->listen(&port_)) return false;
    running_.store(true);
    thread_ = std::thread([this] {
        impl_->run();
        running_.store(false);
    });
    return true;
}

void TXvc::request_stop() {
    impl_->request_stop();
}

void TXvc::stop() {
    if (!thread_.joinable()) return;
    request_stop();
    thread_.join();
}

}  // namespace vireo::xvc
