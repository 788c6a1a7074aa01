// The xvc cable against the local one: random TAP walks, IR/DR scans and run-test clocks run on
// two fresh boards of one preset, once through skprb and once through our XVC server (directly
// or through the relay with a small advertised limit, a delay or a cut). Every status and every
// captured TDO bit must be the same; a cut connection may only turn operations into 21, for good,
// never into a wrong capture.
//
// VIREO_PROPERTY_SEED=<seed>        replays one iteration (printed with every failure)
// VIREO_PROPERTY_ITERATIONS=<n>     the number of iterations of the fixed-seed sweep
// VIREO_PROPERTY_VERBOSE=1          each step of the xvc cable with its status
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>

#include "cables/usb_drivers.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "support/printed.h"
#include "support/xvc_relay.h"
#include "xvc/xvc_client.h"
#include "xvc_test_support.h"

namespace vireo::test {
namespace {

using Bits = std::vector<uint8_t>;

struct Op {
    enum Kind { Goto, Shift, Clocks } kind = Goto;
    unsigned state = 0;  // Goto: target; Shift: SHIFT_IR/SHIFT_DR; Clocks: where they run
    Bits tdi{}, mask{};  // Shift: count = tdi.size(), no mask when empty; Clocks: see `clocks`
    int64_t clocks = 0;
    bool with_tdi = false, capture = false;
    int nocap = 0, flush = 1;
    std::string shown() const {
        char t[128];
        const char* at = tap_state_name(state);
        if (kind == Goto) std::snprintf(t, sizeof t, "tap_goto %s, flush %d", at, flush);
        if (kind == Shift)
            std::snprintf(t, sizeof t, "shift_inout %s, %zu bits, nocap %d%s, flush %d", at,
                          tdi.size(), nocap, mask.empty() ? ", no mask" : "", flush);
        if (kind == Clocks)
            std::snprintf(t, sizeof t, "runtest %s, %lld clocks%s%s, flush %d", at,
                          static_cast<long long>(clocks), with_tdi ? ", TDI" : "",
                          capture ? ", TDO" : "", flush);
        return t;
    }
};

struct Result {
    int status = -1;
    Bits tdo;
};

std::vector<Op> random_ops(std::mt19937_64& rng) {
    auto pick = [&](uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(rng); };
    auto bits = [&](size_t n, int density) {
        Bits b(n);
        for (uint8_t& x : b) x = pick(density) == 0;
        return b;
    };
    constexpr unsigned kTargets[] = {TEST_LOGIC_RESET, RUNTEST_IDLE, PAUSE_DR,
                                     PAUSE_IR,         SHIFT_DR,     SHIFT_IR};
    std::vector<Op> ops;
    for (size_t n = 3 + pick(30); n > 0; --n) {
        Op op;
        op.flush = static_cast<int>(pick(2));
        const uint64_t what = pick(3);
        if (what == 0) {
            op.state = kTargets[pick(std::size(kTargets))];
        } else if (what == 1) {
            op.kind = Op::Shift;
            op.state = pick(2) ? SHIFT_IR : SHIFT_DR;
            ops.push_back({.state = op.state});
            op.tdi = bits(1 + pick(pick(4) ? 300 : 3000), 1 + static_cast<int>(pick(3)));
            if (pick(4)) op.mask = pick(2) ? Bits(op.tdi.size(), 1) : bits(op.tdi.size(), 2);
            // The two boards' modeled times differ (each cable has its own round trips), so no
            // instruction may select what time changes (SAMPLE's oscillator pin, INIT after
            // JPROGRAM): every IR scan ends in BYPASS, or in zeros (BYPASS too) without a mask.
            const size_t tail = op.tdi.size() - std::min<size_t>(op.tdi.size(), 16);
            for (size_t k = tail; k < op.tdi.size() && op.state == SHIFT_IR; ++k) {
                op.tdi[k] = 1;
                if (!op.mask.empty()) op.mask[k] = 1;
            }
            op.capture = pick(2);
            op.nocap = op.capture ? 0 : 1 + static_cast<int>(pick(3));
        } else {
            op.kind = Op::Clocks;
            op.state = pick(2) ? RUNTEST_IDLE : SHIFT_DR;
            op.clocks = static_cast<int64_t>(pick(pick(4) ? 200 : 5001));
            op.with_tdi = pick(2);
            op.tdi = bits(static_cast<size_t>(op.clocks), 2);
            op.capture = pick(2);
        }
        ops.push_back(op);
    }
    // The IDCODEs (two on the Zynq), after a TAP reset.
    ops.push_back({.state = TEST_LOGIC_RESET});
    ops.push_back({.state = SHIFT_DR});
    ops.push_back({Op::Shift, SHIFT_DR, Bits(64, 0), Bits(64, 1), 0, false, true, 0, 1});
    return ops;
}

Result apply(Cable* cable, const Op& op) {
    Result r;
    if (op.kind == Op::Goto) {
        r.status = cable_tap_goto(cable, op.state, op.flush);
    } else if (op.kind == Op::Shift) {
        r.tdo.assign(op.capture ? op.tdi.size() : 0, 0xEE);  // bits never written stay 0xEE
        r.status = cable_shift_inout(cable, static_cast<int>(op.tdi.size()), op.tdi.data(),
                                     op.mask.empty() ? nullptr : op.mask.data(), nullptr, nullptr,
                                     op.capture ? r.tdo.data() : nullptr,
                                     op.state == SHIFT_IR ? 1 : 2, op.nocap, "p", op.flush);
    } else {
        r.tdo.assign(op.capture ? static_cast<size_t>(op.clocks) : 0, 0xEE);
        r.status = cable_runtest(cable, op.state, 0, op.clocks, "p", op.flush,
                                 op.with_tdi ? op.tdi.data() : nullptr,
                                 op.capture ? r.tdo.data() : nullptr);
    }
    return r;
}

// Empty when (b) agrees with (a), else what differs.
std::string iterate(uint64_t seed, size_t* cuts) {
    std::mt19937_64 rng(seed);
    const char* preset = rng() % 2 ? "zynq" : "kb2203";
    const std::vector<Op> ops = random_ops(rng);
    constexpr uint32_t kLimits[] = {4, 6, 64, 130, 1024, 0};
    const bool relayed = rng() % 4 != 0;
    RelayOptions relay_options{0, kLimits[rng() % std::size(kLimits)],
                               std::chrono::microseconds(rng() % 2 ? 0 : 300), 0};
    uint64_t bits = 0;
    for (const Op& op : ops) bits += op.tdi.size() + 4;
    if (relayed && rng() % 3 == 0) relay_options.drop_after_bytes = 9 + rng() % (bits / 4);
    const std::string setup = std::string(preset) + (relayed ? ", relay limit " : ", no relay") +
                              (relayed ? std::to_string(relay_options.advertised_limit) : "") +
                              (relay_options.drop_after_bytes
                                   ? ", cut after " + std::to_string(relay_options.drop_after_bytes)
                                   : "");

    std::vector<Result> local, remote;
    use_virtual_board(preset);
    Cable* a = cable_new("", "skprb", "");
    if (!a) return setup + ": skprb did not open";
    for (const Op& op : ops) local.push_back(apply(a, op));
    cable_free(a);

    use_virtual_board(preset);
    TestServer server;
    if (!server.server->start()) return setup + ": the server did not start";
    relay_options.upstream_port = server.port();
    XvcRelay relay(relay_options);
    if (relayed && !relay.start()) return setup + ": the relay did not start";
    const std::string at = "127.0.0.1:" + std::to_string(relayed ? relay.port() : server.port());
    printed().clear();
    Cable* b = cable_new_with_driver(*xvc::xvc_client_driver(), "", "xvc", at.c_str());
    if (!b) return setup + ": xvc did not open: " + printed();
    std::string fault;
    size_t lost_at = ops.size();
    for (size_t i = 0; i < ops.size() && fault.empty(); ++i) {
        remote.push_back(apply(b, ops[i]));
        if (std::getenv("VIREO_PROPERTY_VERBOSE"))
            std::printf("%zu %s: %d\n", i, ops[i].shown().c_str(), remote[i].status);
        const Result &x = local[i], &y = remote[i];
        const std::string step = "step " + std::to_string(i) + " (" + ops[i].shown() + "): ";
        if (x.status != JTAG_OK)
            fault = step + "skprb returned " + std::to_string(x.status);
        else if (lost_at < i && y.status != JTAG_DISCONNECTED)
            fault = step + "returned " + std::to_string(y.status) + " after the link was lost";
        else if (y.status == JTAG_DISCONNECTED && !relay.dropped())
            fault = step + "21 without a cut";
        else if (y.status == JTAG_DISCONNECTED && cable_alive(b))
            fault = step + "21, but cable_alive() is still 1";
        else if (y.status == JTAG_DISCONNECTED)
            lost_at = std::min(lost_at, i);
        else if (y.status != x.status)
            fault = step + "returned " + std::to_string(y.status);
        else if (y.tdo != x.tdo)
            fault = step + "TDO bit " +
                    std::to_string(std::mismatch(x.tdo.begin(), x.tdo.end(), y.tdo.begin()).first -
                                   x.tdo.begin()) +
                    " differs from skprb's";
    }
    if (fault.empty() && relay.dropped() && lost_at == ops.size())
        fault = "the connection was cut, yet no step returned 21";
    if (fault.empty() && relay.violations() != 0) fault = "vectors over the advertised limit";
    const bool zynq = std::string(preset) == "zynq";
    if (fault.empty() && (local.back().tdo[0] != 1 || (zynq && local.back().tdo[32] != 1)))
        fault = "the IDCODEs read through skprb lack their 1 bit";
    cable_free(b);
    *cuts += relay.dropped();
    return fault.empty() ? ""
                         : setup + ", " + std::to_string(ops.size()) + " steps: " + fault +
                               (printed().empty() ? "" : "\n" + printed());
}

std::optional<uint64_t> env_number(const char* name) {
    const char* text = std::getenv(name);
    if (!text || !*text) return std::nullopt;
    return std::strtoull(text, nullptr, 0);
}

TEST(XvcClientProperty, RandomOperationsGiveTheLocalCablesStatusesAndCaptures) {
    cables_register_usb_drivers();
    const PrintCallback kept = current_print_callback();
    set_print_callback(collect_print);
    const std::optional<uint64_t> replay = env_number("VIREO_PROPERTY_SEED");
    const uint64_t iterations = replay ? 1 : env_number("VIREO_PROPERTY_ITERATIONS").value_or(20);
    size_t cuts = 0;
    for (uint64_t i = 0; i < iterations; ++i) {
        const uint64_t seed = replay ? *replay : 1000 + i;
        const std::string fault = iterate(seed, &cuts);
        if (!fault.empty()) ADD_FAILURE() << "VIREO_PROPERTY_SEED=" << seed << ": " << fault;
    }
    use_virtual_board("");
    set_print_callback(kept);
    std::printf("%llu iterations, %zu cut\n", static_cast<unsigned long long>(iterations), cuts);
}

}  // namespace
}  // namespace vireo::test
