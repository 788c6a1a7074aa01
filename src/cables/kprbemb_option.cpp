// kprbemb's option codes: mode and lock requests, user pins P0-P3, the connector drawing and pin
// records, the alive check and the description.
#include <strings.h>

#include <cstring>

#include "cables/connector.h"
#include "cables/kprbemb.h"
#include "cables/kprbemb_link.h"
#include "jtag/status.h"

namespace {

using namespace cable_connector;

constexpr uint8_t kCmdPins = 0x03, kCmdMode = 0x04;
constexpr size_t kModeReply = 256;
constexpr int kOptionPins = 3, kOptionPinBits = 5, kOptionStatus = 10, kOptionModeFlag = 161;

int pin_state(const KprbembState& s, int index) {
    const char* name = kPins[index].name;
    if (index >= kFirstUserPin && index < kFirstUserPin + 4) {
        const int bit = index - kFirstUserPin;
        const bool level = s.pins & (1 << bit), enabled = s.pins & (0x10 << bit);
        return enabled ? (level ? 1 : 0) : (level ? 5 : 4);
    }
    if (std::strcmp(name, "VCC") == 0) return 1;
    if (std::strcmp(name, "VREF") == 0) return (s.last_status & 1) ? 5 : 4;
    return 10;
}

int send_pins(Cable* cable, KprbembState& s, bool flush) {
    const uint8_t command[] = {kCmdPins, s.pins};
    return kprb_queue(s, command, sizeof command, flush) < 0 ? kprb_lost(cable) : JTAG_OK;
}

// Sends the mode byte and takes its 256-byte reply.
int send_mode(Cable* cable, KprbembState& s, uint8_t* reply) {
    const uint8_t command[] = {kCmdMode, s.mode};
    if (kprb_queue(s, command, sizeof command, true) < 0 ||
        kprb_stream_read(s, reply, kModeReply) < 0) {
        return kprb_lost(cable);
    }
    return JTAG_OK;
}

int drive_pin(Cable* cable, KprbembState& s, const CablePin& pin) {
    char wanted[sizeof pin.name + 1] = {};
    std::memcpy(wanted, pin.name, sizeof pin.name);
    for (int bit = 0; bit < 4; ++bit) {
        if (strcasecmp(kPins[kFirstUserPin + bit].name, wanted) != 0) continue;
        const uint8_t level = 1 << bit, enable = 0x10 << bit;
        switch (pin.state) {
            case 1:
            case 3:
                s.pins |= enable | level;
                break;
            case 0:
            case 2:
                s.pins = (s.pins | enable) & ~level;
                break;
            case 8:
            case 9:
                s.pins &= ~enable;
                break;
            default:
                continue;
        }
        if (const int status = send_pins(cable, s, true); status != JTAG_OK) return status;
    }
    return JTAG_OK;
}

int user_pin_bits(Cable* cable, KprbembState& s, int request, int* outcount) {
    if (request & 0x15) {
        if (outcount) *outcount = 0;
        return JTAG_FAIL;
    }
    if (request & 0x40) {
        s.pins = (s.pins & ~0x01) | ((request & 0x80) ? 0x01 : 0);
        if (const int status = send_pins(cable, s, false); status != JTAG_OK) return status;
    }
    if (request & 0x100) {
        s.pins = (s.pins & ~0x02) | ((request & 0x200) ? 0x02 : 0);
        if (const int status = send_pins(cable, s, false); status != JTAG_OK) return status;
    }
    if (outcount) *outcount = 1;
    return JTAG_OK;
}

}  // namespace

int kprbemb_option(Cable* cable, int code, const void* in, int, void* out, int count,
                   int* outcount) {
    KprbembState* s = kprb_state(cable);
    if (!s) return JTAG_FAIL;
    if (s->handle == DEVOBJ_INVALID) return kprb_lost(cable);
    uint8_t reply[kModeReply];
    switch (code) {
        case CABLE_OPT_NONE:
            return JTAG_OK;
        case kOptionPins:
            if (!in) return JTAG_FAIL;
            s->pins = (*static_cast<const uint8_t*>(in) & 0xCC) | (s->pins & 0x33);
            return send_pins(cable, *s, true);
        case kOptionPinBits:
            if (!in) return JTAG_FAIL;
            return user_pin_bits(cable, *s, *static_cast<const int*>(in), outcount);
        case CABLE_OPT_LOCK:
        case kOptionModeFlag: {
            if (!in) return JTAG_FAIL;
            const uint8_t bit = code == CABLE_OPT_LOCK ? 0x01 : 0x80;
            s->mode = (*static_cast<const int*>(in) & 1) ? s->mode | bit : s->mode & ~bit;
            return send_mode(cable, *s, reply);
        }
        case kOptionStatus: {
            if (const int status = send_mode(cable, *s, reply); status != JTAG_OK) return status;
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
            if (!out) return JTAG_FAIL;
            *static_cast<const char* const**>(out) = kDrawing;
            return JTAG_OK;
        case CABLE_OPT_PIN_INFO: {
            if (!in || !out) return JTAG_FAIL;
            const int index = *static_cast<const int*>(in);
            CablePin& pin = *static_cast<CablePin*>(out);
            pin = CablePin{};
            if (index < 0 || index >= kPinCount) return JTAG_FAIL;
            pin.kind = kPins[index].kind;
            pin.state = pin_state(*s, index);
            std::strncpy(pin.name, kPins[index].name, sizeof pin.name - 1);
            return JTAG_OK;
        }
        case CABLE_OPT_PIN_DRIVE:
            if (!in) return JTAG_FAIL;
            return drive_pin(cable, *s, *static_cast<const CablePin*>(in));
        case CABLE_OPT_ALIVE: {
            const uint8_t alive_request = 0x06;
            uint8_t answer[64];
            if (kprb_control_write(*s, &alive_request, 1) < 0 ||
                kprb_control_read(*s, answer, sizeof answer) < 0 || answer[0] == 0) {
                return kprb_lost(cable);
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
