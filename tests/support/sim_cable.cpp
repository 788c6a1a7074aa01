#include "support/sim_cable.h"

#include <chrono>

#include "jtag/status.h"
#include "jtag/tap.h"

namespace vireo::test {
namespace {

thread_local std::unique_ptr<sim::TapChain> t_pending_chain;

SimCableState* record(Cable* cable) {
    return cable ? static_cast<SimCableState*>(cable->state) : nullptr;
}

// Counts a transfer and reports whether the board is still there.
bool transfer(Cable* cable, SimCableState& s) {
    if (s.unplug_after >= 0 && s.transfers >= s.unplug_after) s.gone = true;
    ++s.transfers;
    if (s.gone) cable->alive = 0;
    return !s.gone;
}

void* sim_open(Cable* cable, const char*) {
    if (!cable || !t_pending_chain) return nullptr;
    auto state = std::make_unique<SimCableState>();
    state->chain = std::move(t_pending_chain);
    cable->state = state.release();
    return cable->state;
}

int sim_init(Cable* cable) {
    SimCableState* s = record(cable);
    if (!s) return JTAG_NULL;
    s->tap_state = UNKNOWN;
    return 1;
}

int sim_close(Cable* cable) {
    SimCableState* s = record(cable);
    if (!s) return JTAG_NULL;
    std::unique_ptr<SimCableState> owned(s);
    return 1;
}

int sim_tap_goto(Cable* cable, unsigned target, int) {
    SimCableState* s = record(cable);
    if (!s) return JTAG_NULL;
    uint8_t tms[kTapWalkLimit];
    const int n = tap_walk(&s->tap_state, target, tms);
    if (n < 0) return 0;
    if (n == 0) return 1;
    if (!transfer(cable, *s)) return JTAG_DISCONNECTED;
    for (int i = 0; i < n; ++i) s->chain->clock(tms[i], false);
    return 1;
}

int sim_shift(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask, const uint8_t*,
              const uint8_t*, uint8_t* capture, int kind, int nocap, int, const char* label, int) {
    SimCableState* s = record(cable);
    if (!s) return 0;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (count <= 0) return 1;
    if (!transfer(cable, *s)) return JTAG_DISCONNECTED;
    s->labels.push_back(label ? label : "");
    std::vector<uint8_t> in((count + 7) / 8, 0), out((count + 7) / 8, 0);
    for (int i = 0; i < count; ++i) {
        if (tdi[i] && tdimask[i]) in[i / 8] |= 1 << (i % 8);
    }
    s->chain->shift(in.data(), out.data(), count, true);
    s->tap_state = kind == 1 ? EXIT1_IR : EXIT1_DR;
    const bool read = !(nocap & 3);
    for (int i = 0; i < count; ++i) capture[i] = read ? (out[i / 8] >> (i % 8)) & 1 : 0;
    if (s->record_shifts) {
        SimCableState::Shift& shift = s->shifts.emplace_back();
        shift.kind = kind;
        shift.label = label ? label : "";
        for (int i = 0; i < count; ++i) {
            shift.tdi.push_back((in[i / 8] >> (i % 8)) & 1);
            shift.tdo.push_back((out[i / 8] >> (i % 8)) & 1);
        }
    }
    return 1;
}

int sim_runtest(Cable* cable, unsigned state, int64_t usec, int64_t clocks, int, const char*,
                int flush, const uint8_t* tdi, uint8_t* tdo) {
    SimCableState* s = record(cable);
    if (!s) return 0;
    if (usec) {
        s->chain->wait_ns(static_cast<uint64_t>(usec) * 1000);
        return 1;
    }
    if (state != UNKNOWN && sim_tap_goto(cable, state, flush) != 1) return 0;
    if (clocks <= 0) return 1;
    if (!transfer(cable, *s)) return JTAG_DISCONNECTED;
    if (!tdi && !tdo) {
        s->chain->run_clocks(static_cast<uint64_t>(clocks));
        return 1;
    }
    // TMS stays low: the same as clocking bit by bit, but Shift-DR streams go through in bulk.
    const size_t n = static_cast<size_t>(clocks);
    std::vector<uint8_t> in((n + 7) / 8, 0), out(tdo ? (n + 7) / 8 : 0, 0);
    for (size_t i = 0; tdi && i < n; ++i) {
        if (tdi[i]) in[i / 8] |= 1 << (i % 8);
    }
    s->chain->shift(in.data(), tdo ? out.data() : nullptr, n, false);
    for (size_t i = 0; tdo && i < n; ++i) tdo[i] = (out[i / 8] >> (i % 8)) & 1;
    return 1;
}

int sim_option(Cable* cable, int code, const void* in, int, void* out, int, int*) {
    SimCableState* s = record(cable);
    if (!s) return 0;
    if (s->gone) {
        cable->alive = 0;
        return JTAG_DISCONNECTED;
    }
    switch (code) {
        case CABLE_OPT_NONE:
            return 1;
        case CABLE_OPT_LOCK:
            if (!in) return 0;
            s->lock_requests.push_back(*static_cast<const int*>(in) & 1);
            return 1;
        case CABLE_OPT_ALIVE:
            return 1;
        case CABLE_OPT_COLLECT:
            return s->defers ? 1 : JTAG_UNSUPPORTED;
        case CABLE_OPT_DESCRIPTION:
            if (!out) return 0;
            *static_cast<const char**>(out) = "virtual board (test cable)";
            return 1;
        default:
            return JTAG_UNSUPPORTED;
    }
}

}  // namespace

const CableDriver& sim_cable_driver() {
    static const CableDriver driver = [] {
        CableDriver d;
        d.open = sim_open;
        d.init = sim_init;
        d.close = sim_close;
        d.tap_goto = sim_tap_goto;
        d.shift_inout = sim_shift;
        d.runtest = sim_runtest;
        d.option = sim_option;
        return d;
    }();
    return driver;
}

Cable* sim_cable_open(std::unique_ptr<sim::TapChain> chain) {
    t_pending_chain = std::move(chain);
    Cable* cable = cable_new_with_driver(sim_cable_driver(), "", "sim", "");
    t_pending_chain.reset();
    return cable;
}

SimCableState& sim_cable_state(Cable* cable) {
    return *record(cable);
}

}  // namespace vireo::test
