#include "xvc/xvc_link.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "jtag/msg.h"

namespace vireo::xvc {
namespace {

using Clock = std::chrono::steady_clock;

// A server that takes longer than this to accept a vector or to answer one is taken as gone.
constexpr std::chrono::milliseconds kAnswerTimeout{10000};
constexpr char kInfoPrefix[] = "xvcServer_v1.0:";
constexpr size_t kInfoMax = 64;
// Servers announcing more than this get vectors of this size: enough to hide any latency.
constexpr uint32_t kVectorBytesMax = 32768;

std::string lower_first(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

int poll_ms(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

void put_le32(std::vector<uint8_t>* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A non-blocking connect to one address, waited for until the deadline: the socket, or -1 with
// errno set.
int connect_one(const addrinfo& a, Clock::time_point deadline) {
    const int fd =
        ::socket(a.ai_family, a.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a.ai_protocol);
    if (fd < 0) return -1;
    if (::connect(fd, a.ai_addr, a.ai_addrlen) == 0) return fd;
    if (errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int ready;
        while ((ready = ::poll(&p, 1, poll_ms(deadline))) < 0 && errno == EINTR) {
        }
        int error = ETIMEDOUT;
        socklen_t length = sizeof error;
        if (ready > 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (ready > 0 && error == 0) return fd;
        errno = error;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

}  // namespace

XvcLink::~XvcLink() {
    if (fd_ >= 0) ::close(fd_);
}

std::string XvcLink::connect(const std::string& host, uint16_t port,
                             std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
        rc != 0) {
        return "the host cannot be found (" + lower_first(::gai_strerror(rc)) + ")";
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    int error = ETIMEDOUT;
    for (const addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
        fd_ = connect_one(*a, deadline);
        if (fd_ < 0) error = errno;
    }
    ::freeaddrinfo(found);
    if (fd_ < 0) {
        if (error == ETIMEDOUT)
            return "no answer within " + std::to_string(timeout.count() / 1000) + " s";
        return lower_first(std::strerror(error));
    }
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    const std::string getinfo = "getinfo:";
    std::vector<uint8_t> answer;
    if (!send_all(std::vector<uint8_t>(getinfo.begin(), getinfo.end())) ||
        !read_answer(&answer, kInfoMax, true, timeout)) {
        const std::string why = lost_;
        lost_.clear();
        if (!answer.empty())
            return "it answered getinfo with '" +
                   shown_text(std::string(answer.begin(), answer.end())) + "'";
        // Our own server closes at once when it serves another client, the address is not
        // allowed or no board is there; others do the same for their reasons.
        if (why.starts_with("no answer")) return "no answer to getinfo (" + why + ")";
        return "it closed the connection without answering getinfo (" + why +
               "): busy with another client, this address not allowed, or no board to serve";
    }
    const std::string text(answer.begin(), answer.end());
    const size_t prefix = sizeof kInfoPrefix - 1;
    uint64_t limit = 0;
    bool digits = text.size() > prefix + 1 && text.compare(0, prefix, kInfoPrefix) == 0;
    for (size_t i = prefix; digits && i + 1 < text.size(); ++i) {
        digits = std::isdigit(static_cast<unsigned char>(text[i]));
        // Any size past what this link would use is as good as that size.
        limit = std::min<uint64_t>(limit * 10 + static_cast<uint64_t>(text[i] - '0'), 1u << 30);
    }
    if (!digits || limit < 2) return "it answered getinfo with '" + shown_text(text) + "'";
    server_limit_ = static_cast<uint32_t>(limit);
    const uint32_t vector_bytes = std::min(server_limit_ / 2, kVectorBytesMax);
    vector_bits_ = vector_bytes * 8;
    tms_.assign(vector_bytes, 0);
    tdi_.assign(vector_bytes, 0);
    return "";
}

bool XvcLink::set_period(uint32_t period_ns, uint32_t* answered) {
    if (!sync()) return false;
    command_.assign({'s', 'e', 't', 't', 'c', 'k', ':'});
    put_le32(&command_, period_ns);
    std::vector<uint8_t> answer;
    if (!send_all(command_) || !read_answer(&answer, 4, false, kAnswerTimeout)) return false;
    *answered = 0;
    for (int i = 0; i < 4; ++i) *answered |= uint32_t{answer[static_cast<size_t>(i)]} << (8 * i);
    return true;
}

bool XvcLink::clock(size_t count, bool tms, bool last_tms, const uint8_t* tdi, uint8_t* tdo) {
    if (!lost_.empty()) return false;
    if (tdo && count > 0) captures_.push_back({next_clock_, count, tdo});
    for (size_t i = 0; i < count;) {
        const size_t at = vector_fill_ / 8;
        if (vector_fill_ % 8 == 0 && count - i > 8 && vector_bits_ - vector_fill_ >= 8) {
            // Eight clocks at once, never the last one (its TMS may differ).
            uint8_t bits = 0;
            for (int k = 0; tdi && k < 8; ++k) bits |= static_cast<uint8_t>((tdi[i + k] != 0) << k);
            tms_[at] = tms ? 0xFF : 0x00;
            tdi_[at] = bits;
            vector_fill_ += 8;
            i += 8;
        } else {
            const uint8_t bit = static_cast<uint8_t>(1u << (vector_fill_ % 8));
            if (i + 1 == count ? last_tms : tms) tms_[at] |= bit;
            if (tdi && tdi[i]) tdi_[at] |= bit;
            ++vector_fill_;
            ++i;
        }
        if (vector_fill_ == vector_bits_ && !send_vector()) return false;
    }
    next_clock_ += count;
    return true;
}

bool XvcLink::send_vector() {
    if (vector_fill_ == 0) return true;
    const size_t bytes = (vector_fill_ + 7) / 8;
    command_.assign({'s', 'h', 'i', 'f', 't', ':'});
    put_le32(&command_, vector_fill_);
    command_.insert(command_.end(), tms_.begin(), tms_.begin() + static_cast<ptrdiff_t>(bytes));
    command_.insert(command_.end(), tdi_.begin(), tdi_.begin() + static_cast<ptrdiff_t>(bytes));
    in_flight_.push_back({vector_first_, vector_fill_});
    vector_first_ += vector_fill_;
    vector_fill_ = 0;
    std::fill(tms_.begin(), tms_.begin() + static_cast<ptrdiff_t>(bytes), 0);
    std::fill(tdi_.begin(), tdi_.begin() + static_cast<ptrdiff_t>(bytes), 0);
    return send_all(command_);
}

bool XvcLink::sync() {
    if (!lost_.empty() || !send_vector()) return false;
    // A server that trickles its answer a byte at a time is as gone as a silent one: each reply
    // must be whole within the time-out.
    auto deadline = Clock::now() + kAnswerTimeout;
    while (!in_flight_.empty()) {
        const size_t waiting = in_flight_.size();
        if (Clock::now() >= deadline) return fail("the server did not answer for 10 s");
        if (!receive(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())))
            return false;
        if (in_flight_.size() < waiting) deadline = Clock::now() + kAnswerTimeout;
    }
    return true;
}

bool XvcLink::send_all(const std::vector<uint8_t>& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n =
            ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return fail(lower_first(std::strerror(errno)));
        // The server is not taking more: its replies may be what holds it up.
        pollfd p{fd_, POLLOUT | POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(kAnswerTimeout.count()));
        if (ready == 0) return fail("the server took nothing for 10 s");
        if (ready > 0 && (p.revents & POLLIN) && !receive(std::chrono::milliseconds(0)))
            return false;
    }
    return true;
}

bool XvcLink::receive(std::chrono::milliseconds wait) {
    pollfd p{fd_, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, static_cast<int>(wait.count()))) < 0 && errno == EINTR) {
    }
    if (ready == 0) return wait.count() <= 0 || fail("the server did not answer for 10 s");
    uint8_t buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) return fail("the server closed the connection");
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
        return fail(lower_first(std::strerror(errno)));
    }
    for (size_t at = 0; at < static_cast<size_t>(n);) {
        if (in_flight_.empty()) return fail("the server sent bytes nobody asked for");
        const InFlight vector = in_flight_.front();
        const size_t need = (vector.bits + 7) / 8 - reply_.size();
        const size_t take = std::min(need, static_cast<size_t>(n) - at);
        reply_.insert(reply_.end(), buffer + at, buffer + at + take);
        at += take;
        if (take < need) break;
        deliver(vector, reply_.data());
        reply_.clear();
        in_flight_.pop_front();
    }
    return true;
}

void XvcLink::deliver(const InFlight& vector, const uint8_t* tdo) {
    const uint64_t end = vector.first + vector.bits;
    while (!captures_.empty()) {
        const Capture& c = captures_.front();
        if (c.first >= end) return;
        const uint64_t from = std::max(c.first, vector.first);
        const uint64_t to = std::min(c.first + c.count, end);
        for (uint64_t b = from; b < to; ++b) {
            const uint64_t k = b - vector.first;
            c.tdo[b - c.first] = static_cast<uint8_t>((tdo[k / 8] >> (k % 8)) & 1);
        }
        if (c.first + c.count > end) return;
        captures_.pop_front();
    }
}

bool XvcLink::read_answer(std::vector<uint8_t>* answer, size_t n, bool line,
                          std::chrono::milliseconds timeout) {
    answer->clear();
    const Clock::time_point deadline = Clock::now() + timeout;
    while (answer->size() < n && !(line && !answer->empty() && answer->back() == '\n')) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, poll_ms(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0)
            return fail("no answer within " + std::to_string(timeout.count() / 1000) + " s");
        uint8_t byte = 0;
        const ssize_t got = ::recv(fd_, &byte, 1, 0);
        if (got == 0) return fail("the server closed the connection");
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return fail(lower_first(std::strerror(errno)));
        }
        answer->push_back(byte);
    }
    return !line || answer->back() == '\n' || fail("no line end");
}

bool XvcLink::fail(const std::string& why) {
    if (lost_.empty()) lost_ = why;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
}

}  // namespace vireo::xvc
