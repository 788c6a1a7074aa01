// kprbemb's option codes: mode and lock requests, the pin register, the connector (drawing, pin
// records, user pins), the alive check and the description.
#include "cables/connector.h"
#include "cables/kprbemb.h"
#include "cables/kprbemb_link.h"
#include "jtag/status.h"

namespace {

using namespace cable_connector;

constexpr uint8_t kCmdMode = 0x04;
constexpr size_t kModeReply = 256;
constexpr int kOptionPins = 3, kOptionPinBits = 5, kOptionStatus = 10, kOptionModeFlag = 161;

int send_pins(KprbembState& s, bool flush) {
    return s.queue.append({kPinCommand, s.pins}, flush);
}

// Sends the mode byte and takes its 256-byte reply.
int send_mode(KprbembState& s, uint8_t* reply) {
    if (s.queue.append({kCmdMode, s.mode}, true) != JTAG_OK ||
        kprb_stream_read(s, reply, kModeReply) < 0) {
        return s.queue.lose();
    }
    return JTAG_OK;
}

int user_pin_bits(KprbembState& s, int request, int* outcount) {
    if (request & 0x15) {
        if (outcount) *outcount = 0;
        return JTAG_FAIL;
    }
    if (request & 0x40) {
        s.pins = (s.pins & ~0x01) | ((request & 0x80) ? 0x01 : 0);
        if (const int status = send_pins(s, false); status != JTAG_OK) return status;
    }
    if (request & 0x100) {
        s.pins = (s.pins & ~0x02) | ((request & 0x200) ? 0x02 : 0);
        if (const int status = send_pins(s, false); status != JTAG_OK) return status;
    }
    if (outcount) *outcount = 1;
    return JTAG_OK;
}

}  // namespace

int kprbemb_option(Cable* cable, int code, const void* in, int, void* out, int count,
                   int* outcount) {
    KprbembState* s = kprb_state(cable);
    if (!s) return JTAG_FAIL;
    if (s->handle == DEVOBJ_INVALID) return cable_lost(*cable);
    uint8_t reply[kModeReply];
    switch (code) {
        case CABLE_OPT_NONE:
            return JTAG_OK;
        case kOptionPins:
            if (!in) return JTAG_FAIL;
            s->pins = (*static_cast<const uint8_t*>(in) & 0xCC) | (s->pins & 0x33);
            return send_pins(*s, true);
        case kOptionPinBits:
            if (!in) return JTAG_FAIL;
            return user_pin_bits(*s, *static_cast<const int*>(in), outcount);
        case CABLE_OPT_LOCK:
        case kOptionModeFlag: {
            if (!in) return JTAG_FAIL;
            const uint8_t bit = code == CABLE_OPT_LOCK ? 0x01 : 0x80;
            s->mode = (*static_cast<const int*>(in) & 1) ? s->mode | bit : s->mode & ~bit;
            return send_mode(*s, reply);
        }
        case kOptionStatus: {
            if (const int status = send_mode(*s, reply); status != JTAG_OK) return status;
            s->last_status = reply[0];
            if (count > 1 && out) {
                auto* bytes = static_cast<uint8_t*>(out);
                bytes[0] = reply[0];
                bytes[1] = reply[1];
                if (outcount) *outcount = 2;
            }
            return JTAG_OK;
        }
        case CABLE_OPT_DRAWING:
        case CABLE_OPT_PIN_INFO:
        case CABLE_OPT_PIN_DRIVE:
            return connector_option(code, in, out, &s->pins, s->last_status & 1, s->queue);
        case CABLE_OPT_ALIVE: {
            const uint8_t alive_request = 0x06;
            uint8_t answer[64];
            if (kprb_control_write(*s, &alive_request, 1) < 0 ||
                kprb_control_read(*s, answer, sizeof answer) < 0 || answer[0] == 0) {
                return s->queue.lose();
            }
            return JTAG_OK;
        }
        case CABLE_OPT_DESCRIPTION:
            if (!out) return JTAG_FAIL;
            s->description = s->protocol == 2 ? "KeenProbe Type-C" : "KeenProbe";
            *static_cast<const char**>(out) = s->description.c_str();
            return JTAG_OK;
        default:
            return JTAG_UNSUPPORTED;
    }
}
