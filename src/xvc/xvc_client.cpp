#include "xvc/xvc_client.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "cables/driver_record.h"
#include "jtag/c_boundary.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "xvc/Xvcserver.h"
#include "xvc/xvc_link.h"

namespace vireo::xvc {
namespace {

constexpr std::chrono::milliseconds kConnectTimeout{5000};
// Waits become TCK clocks, so a board whose time runs with its TCK sees them pass too. Unless the
// server has said its period, it is taken as the fastest TCK of the maker's boards; the host
// then also sleeps whatever of the wait the clocks did not take.
constexpr uint32_t kAssumedPeriodNs = 33;
// Clocks beyond this (about 33 ms at 30 MHz) are left to the host's sleep.
constexpr int64_t kWaitClocksMax = 1'000'000;
constexpr char kTckKey[] = ",tck=";

struct ClientState {
    explicit ClientState(Cable&) {}
    XvcLink link;
    std::string endpoint;
    uint32_t tck_hz = 0;
    uint32_t period_ns = 0;  // as the server answered settck; 0 when not asked
    unsigned tap_state = UNKNOWN;
    std::string description;
    bool lost_reported = false;
};

ClientState* record(Cable* cable) {
    return cable ? static_cast<ClientState*>(cable->state) : nullptr;
}

// The link is gone: the cable is lost for good, said once with the reason.
int lost(Cable& cable, ClientState& s) {
    cable.alive = 0;
    if (!s.lost_reported) {
        s.lost_reported = true;
        msg_print("XVC server %s: connection lost: %s\n", shown_text(s.endpoint).c_str(),
                  shown_text(s.link.lost()).c_str());
    }
    return JTAG_DISCONNECTED;
}

void* open_body(Cable* cable, const char* parameter) {
    if (!cable) return nullptr;
    OpeningRecord<ClientState> s(*cable);
    std::string text = parameter ? parameter : "";
    if (const size_t at = text.find(kTckKey); at != std::string::npos) {
        const char* first = text.data() + at + sizeof kTckKey - 1;
        std::from_chars(first, text.data() + text.size(), s->tck_hz);
        text.resize(at);
    }
    std::string host;
    uint16_t port = 0;
    std::string why = xvc_parse_endpoint(text, &host, &port);
    // Named with its port, the default one too: the user sees where it looked.
    s->endpoint = why.empty() && text.find(']') == std::string::npos && host == text
                      ? text + ":" + std::to_string(port)
                      : text;
    if (why.empty()) why = s->link.connect(host, port, kConnectTimeout);
    if (!why.empty()) {
        msg_print("no XVC server at %s: %s\n", shown_text(s->endpoint).c_str(), why.c_str());
        return nullptr;
    }
    s->description = "XVC server " + s->endpoint;
    return s.keep();
}

int init_body(Cable* cable) {
    ClientState* s = record(cable);
    if (!s) return JTAG_NULL;
    s->tap_state = UNKNOWN;
    msg_print("XVC server %s: vectors of up to %u bytes\n", shown_text(s->endpoint).c_str(),
              s->link.server_limit());
    if (s->tck_hz == 0) return JTAG_OK;
    const uint32_t asked = std::max<uint32_t>(1, 1'000'000'000u / s->tck_hz);
    uint32_t answered = 0;
    if (!s->link.set_period(asked, &answered)) return lost(*cable, *s);
    if (answered == 0) {
        msg_print("XVC server %s: TCK period %u ns asked, the server answered 0 (no TCK set)\n",
                  shown_text(s->endpoint).c_str(), asked);
        return JTAG_OK;
    }
    s->period_ns = answered;
    msg_print("XVC server %s: TCK period %u ns asked, %u ns set (%.6g MHz)\n",
              shown_text(s->endpoint).c_str(), asked, answered, 1000.0 / answered);
    return JTAG_OK;
}

int close_body(Cable* cable) {
    ClientState* s = record(cable);
    if (!s) return JTAG_NULL;
    std::unique_ptr<ClientState> owned(s);
    // What is still queued (the end of a configuration, a last walk) reaches the board.
    if (cable->alive && !s->link.sync()) lost(*cable, *s);
    return JTAG_OK;
}

int tap_goto_body(Cable* cable, unsigned target, int) {
    ClientState* s = record(cable);
    if (!s) return JTAG_NULL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    unsigned state = s->tap_state;
    uint8_t tms[kTapWalkLimit];
    const int steps = tap_walk(&state, target, tms);
    if (steps <= 0) return steps == 0 ? JTAG_OK : JTAG_FAIL;
    s->tap_state = state;
    for (int i = 0; i < steps; ++i) {
        if (!s->link.clock(1, tms[i] != 0, tms[i] != 0, nullptr, nullptr)) return lost(*cable, *s);
    }
    return JTAG_OK;
}

int shift_inout_body(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                     const uint8_t*, const uint8_t*, uint8_t* capture, int kind, int nocap, int,
                     const char*, int) {
    ClientState* s = record(cable);
    if (!s || count < 0) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (count == 0) return JTAG_OK;
    const bool read = !(nocap & 3);
    if (read && !capture) return JTAG_FAIL;
    // TDI is driven only where the mask says so.
    std::vector<uint8_t> driven(static_cast<size_t>(count), 0);
    if (tdi && tdimask)
        for (int i = 0; i < count; ++i) driven[i] = tdi[i] && tdimask[i];
    if (!s->link.clock(driven.size(), false, true, driven.data(), read ? capture : nullptr))
        return lost(*cable, *s);
    s->tap_state = kind == 1 ? EXIT1_IR : EXIT1_DR;
    if (read && !s->link.sync()) return lost(*cable, *s);
    if (!read && capture) std::memset(capture, 0, static_cast<size_t>(count));
    return JTAG_OK;
}

// A wait: clocks in a state they do not leave, and the host's sleep for what they do not cover.
int wait_body(Cable& cable, ClientState& s, int64_t usec) {
    if (usec < 0) return JTAG_FAIL;
    const bool stays_low =
        s.tap_state == RUNTEST_IDLE || s.tap_state == PAUSE_DR || s.tap_state == PAUSE_IR;
    const bool stays_high = s.tap_state == TEST_LOGIC_RESET;
    if (stays_low || stays_high) {
        const uint32_t period = s.period_ns ? s.period_ns : kAssumedPeriodNs;
        const int64_t clocks = std::min(kWaitClocksMax, (usec * 1000 + period - 1) / period);
        if (!s.link.clock(static_cast<size_t>(clocks), stays_high, stays_high, nullptr, nullptr))
            return lost(cable, s);
    }
    const int64_t start = perf_microseconds();
    if (!s.link.sync()) return lost(cable, s);
    const int64_t left = usec - (perf_microseconds() - start);
    if (left > 0) wait_us(left);
    return JTAG_OK;
}

int runtest_body(Cable* cable, unsigned state, int64_t usec, int64_t clocks, int, const char*,
                 int flush, const uint8_t* tdi, uint8_t* tdo) {
    ClientState* s = record(cable);
    if (!s) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (usec != 0) return wait_body(*cable, *s, usec);
    if (clocks < 0) return JTAG_FAIL;
    if (state != UNKNOWN) {
        if (const int rc = tap_goto_body(cable, state, flush); rc != JTAG_OK) return rc;
    }
    if (!s->link.clock(static_cast<size_t>(clocks), false, false, tdi, tdo))
        return lost(*cable, *s);
    // Run-test goes out at once, as the USB cables send it: a module that then sleeps on the
    // host (after the configuration stream) sleeps after these clocks, not before them.
    if (!(tdo ? s->link.sync() : s->link.flush())) return lost(*cable, *s);
    return JTAG_OK;
}

int option_body(Cable* cable, int code, const void*, int, void* out, int, int*) {
    ClientState* s = record(cable);
    if (!s) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    switch (code) {
        case CABLE_OPT_NONE:
            return JTAG_OK;
        case CABLE_OPT_ALIVE:
            return s->link.sync() ? JTAG_OK : lost(*cable, *s);
        case CABLE_OPT_DESCRIPTION:
            if (!out) return JTAG_FAIL;
            *static_cast<const char**>(out) = s->description.c_str();
            return JTAG_OK;
        default:
            return JTAG_UNSUPPORTED;
    }
}

}  // namespace

std::string xvc_parse_endpoint(const std::string& text, std::string* host, uint16_t* port) {
    std::string port_text;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) return "'" + text + "' lacks the ']' of its address";
        *host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return "'" + text + "': ':PORT' must follow ']'";
            port_text = text.substr(close + 2);
        } else {
            port_text = "";
        }
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos)
            return "'" + text + "': write an IPv6 address as [ADDR]:PORT";
        *host = text.substr(0, colon);
        if (colon != std::string::npos) port_text = text.substr(colon + 1);
        if (colon != std::string::npos && port_text.empty())
            return "'" + text + "': no port after ':'";
    }
    if (host->empty()) return "'" + text + "': no host";
    *port = kXvcDefaultPort;
    if (port_text.empty()) return "";
    unsigned value = 0;
    const char* last = port_text.data() + port_text.size();
    const auto [end, error] = std::from_chars(port_text.data(), last, value);
    if (error != std::errc() || end != last || value == 0 || value > 65535)
        return "'" + text + "': the port is not a number from 1 to 65535";
    *port = static_cast<uint16_t>(value);
    return "";
}

std::string xvc_client_param(const std::string& endpoint, uint32_t tck_hz) {
    return tck_hz ? endpoint + kTckKey + std::to_string(tck_hz) : endpoint;
}

const CableDriver* xvc_client_driver() {
    static const CableDriver driver = [] {
        CableDriver d;
        d.open = [](Cable* c, const char* p) { return CBoundary<&open_body>::call(c, p); };
        d.init = [](Cable* c) { return CBoundary<&init_body>::call(c); };
        d.close = [](Cable* c) { return CBoundary<&close_body>::call(c); };
        d.tap_goto = [](Cable* c, unsigned t, int f) {
            return CBoundary<&tap_goto_body>::call(c, t, f);
        };
        d.shift_inout = [](Cable* c, int n, const uint8_t* tdi, const uint8_t* tdimask,
                           const uint8_t* tdo, const uint8_t* tdomask, uint8_t* cap, int kind,
                           int nocap, int r, const char* label, int flush) {
            return CBoundary<&shift_inout_body>::call(c, n, tdi, tdimask, tdo, tdomask, cap, kind,
                                                      nocap, r, label, flush);
        };
        d.runtest = [](Cable* c, unsigned st, int64_t us, int64_t clocks, int r, const char* label,
                       int flush, const uint8_t* tdi, uint8_t* tdo) {
            return CBoundary<&runtest_body>::call(c, st, us, clocks, r, label, flush, tdi, tdo);
        };
        d.option = [](Cable* c, int code, const void* in, int r, void* out, int n, int* outn) {
            return CBoundary<&option_body>::call(c, code, in, r, out, n, outn);
        };
        return d;
    }();
    return &driver;
}

}  // namespace vireo::xvc
