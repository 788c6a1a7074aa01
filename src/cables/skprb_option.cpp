// skprb's option slot: the connector (drawing, pins), the alive check, the description.
#include "cables/cmd_queue.h"
#include "cables/connector.h"
#include "cables/skprb.h"
#include "cables/skprb_state.h"
#include "jtag/c_boundary.h"
#include "jtag/status.h"

namespace {

int option_body(Cable* cable, int code, const void* in, int, void* out, int, int*) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_FAIL;
    if (!s->opened) return cable_lost(*cable);
    switch (code) {
        case CABLE_OPT_NONE:
            return JTAG_OK;
        case CABLE_OPT_DRAWING:
        case CABLE_OPT_PIN_INFO:
        case CABLE_OPT_PIN_DRIVE:
            return cable_connector::connector_option(code, in, out, &s->pin_flags,
                                                     s->target_voltage, s->packets);
        case CABLE_OPT_ALIVE:
            if (skprb_ask(*s, 'Q', 64) < 1 || s->reply[0] == 0) return s->packets.lose();
            return JTAG_OK;
        case CABLE_OPT_COLLECT:
            return skprb_settle(*s);
        case CABLE_OPT_DESCRIPTION:
            if (!out) return JTAG_FAIL;
            s->description_out = s->description;
            *static_cast<const char**>(out) = s->description_out.c_str();
            return JTAG_OK;
        default:
            return JTAG_UNSUPPORTED;
    }
}

}  // namespace

int skprb_option_slot(Cable* cable, int code, const void* in, int reserved, void* out, int count,
                      int* outcount) {
    return CBoundary<&option_body>::call(cable, code, in, reserved, out, count, outcount);
}
