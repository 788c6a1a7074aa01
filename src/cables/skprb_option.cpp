// skprb's option slot: connector drawing, user pins P0..P3, the alive check, the description;
// and the driver table.
#include <cstring>

#include "cables/connector.h"
#include "cables/skprb.h"
#include "cables/skprb_state.h"
#include "jtag/status.h"

namespace {

using namespace cable_connector;

int lost(Cable* cable) {
    cable->alive = 0;
    return JTAG_DISCONNECTED;
}

int pin_query(const SkprbState& s, int index, CablePin* pin) {
    if (index < 0 || index >= kPinCount) {
        pin->kind = 0;
        pin->name[0] = '\0';
        return JTAG_FAIL;
    }
    pin->kind = kPins[index].kind;
    std::strncpy(pin->name, kPins[index].name, sizeof pin->name - 1);
    pin->name[sizeof pin->name - 1] = '\0';
    if (index >= kFirstUserPin && index < kVccPin) {
        const int k = index - kFirstUserPin;
        const bool driven = s.pin_flags & (0x10 << k), high = s.pin_flags & (1 << k);
        pin->state = driven ? (high ? 1 : 0) : (high ? 5 : 4);
    } else if (index == kVccPin) {
        pin->state = 1;
    } else if (index == kVrefPin) {
        pin->state = s.target_voltage ? 5 : 4;
    } else {
        pin->state = 10;
    }
    return JTAG_OK;
}

int pin_set(Cable* cable, SkprbState& s, const CablePin& request) {
    const int mode = request.state;
    const bool known_mode =
        mode == 0 || mode == 1 || mode == 2 || mode == 3 || mode == 8 || mode == 9;
    for (int i = 0; i < kPinCount; ++i) {
        if (std::strncmp(request.name, kPins[i].name, sizeof request.name) != 0 || !known_mode)
            continue;
        if (i >= kFirstUserPin && i < kVccPin) {
            const int k = i - kFirstUserPin;
            const uint8_t level = 1 << k, drive = 0x10 << k;
            if (mode == 1 || mode == 3) s.pin_flags |= level | drive;
            if (mode == 0 || mode == 2) s.pin_flags = (s.pin_flags | drive) & ~level;
            if (mode == 8 || mode == 9) s.pin_flags &= ~drive;
        }
        skprb_append(cable, s, 0x03);
        skprb_append(cable, s, s.pin_flags, true);
        if (!s.opened || !cable->alive) return lost(cable);
    }
    return JTAG_OK;
}

}  // namespace

extern "C" int skprb_option(Cable* cable, int code, const void* in, int, void* out, int, int*) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_FAIL;
    if (!s->opened) return lost(cable);
    switch (code) {
        case CABLE_OPT_NONE:
            return JTAG_OK;
        case CABLE_OPT_DRAWING:
            if (!out) return JTAG_FAIL;
            *static_cast<const char* const**>(out) = kDrawing;
            return JTAG_OK;
        case CABLE_OPT_PIN_INFO:
            if (!in || !out) return JTAG_FAIL;
            return pin_query(*s, *static_cast<const int*>(in), static_cast<CablePin*>(out));
        case CABLE_OPT_PIN_DRIVE:
            if (!in) return JTAG_FAIL;
            return pin_set(cable, *s, *static_cast<const CablePin*>(in));
        case CABLE_OPT_ALIVE: {
            skprb_append(cable, *s, 'Q', true);
            if (!cable->alive || skprb_read(cable, *s, 64) < 1 || s->reply[0] == 0)
                return lost(cable);
            return JTAG_OK;
        }
        case CABLE_OPT_DESCRIPTION:
            if (!out) return JTAG_FAIL;
            s->description_out = s->description;
            *static_cast<const char**>(out) = s->description_out.c_str();
            return JTAG_OK;
        default:
            return JTAG_UNSUPPORTED;
    }
}

const CableDriver* skprb_driver() {
    static const CableDriver driver = [] {
        CableDriver d;
        d.open = skprb_open;
        d.init = skprb_init;
        d.close = skprb_close;
        d.tap_goto = skprb_tap_goto;
        d.shift_inout = skprb_shift_inout;
        d.runtest = skprb_runtest;
        d.option = skprb_option;
        return d;
    }();
    return &driver;
}
