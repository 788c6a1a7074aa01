#include "cables/skprb.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "cables/fx3.h"
#include "cables/skprb_state.h"
#include "jtag/msg.h"
#include "jtag/status.h"

namespace {

// The text our firmware puts in its "V" reply.
constexpr char kFirmwareId[] = "NORVALE-FX3-JTAG";
constexpr int kShiftChunk = 256;
constexpr int kCaptureMaxSuperSpeed = 1024, kCaptureMaxHighSpeed = 512;
constexpr int kStatusMax = 64;

int capture_max(const SkprbState& s) {
    return s.superspeed ? kCaptureMaxSuperSpeed : kCaptureMaxHighSpeed;
}

void unpack(const uint8_t* packed, int bits, uint8_t* out) {
    for (int i = 0; i < bits; ++i) out[i] = (packed[i / 8] >> (i % 8)) & 1;
}

// Appends the end byte, sends the batch and reads its reply of at least `need` bytes into
// s.reply. 1, 0 for a reply too short to hold the bits, or 21 with the cable lost.
int exchange(Cable* cable, SkprbState& s, int need) {
    skprb_append(cable, s, 0x00, true);
    if (!cable->alive) return JTAG_DISCONNECTED;
    const int n = skprb_read(cable, s, capture_max(s));
    if (n < 0) return JTAG_DISCONNECTED;
    return n >= need ? JTAG_OK : JTAG_FAIL;
}

// Sends one command, flushed, and reads its reply. The byte count, or -1.
int ask(Cable* cable, SkprbState& s, uint8_t command, int max) {
    skprb_append(cable, s, command, true);
    return cable->alive ? skprb_read(cable, s, max) : -1;
}

void* fail_open(Cable* cable) {
    std::unique_ptr<SkprbState> owned(skprb_record(cable));
    cable->state = nullptr;
    return nullptr;
}

int runtest_wait(Cable* cable, SkprbState& s, int64_t usec) {
    if (usec < 0 || usec > UINT32_MAX) return JTAG_FAIL;
    const uint32_t w = static_cast<uint32_t>(usec);
    skprb_append(cable, s, 'W');
    for (int i = 0; i < 4; ++i) skprb_append(cable, s, static_cast<uint8_t>(w >> (8 * i)), i == 3);
    if (!cable->alive) return JTAG_DISCONNECTED;
    wait_us(usec);
    // The firmware expects the top byte of the wait once more, in a packet of its own.
    skprb_append(cable, s, static_cast<uint8_t>(w >> 24), true);
    return cable->alive ? JTAG_OK : JTAG_DISCONNECTED;
}

int runtest_chunk(Cable* cable, SkprbState& s, int m, const uint8_t* tdi, uint8_t* tdo,
                  std::vector<uint8_t>& scratch) {
    if (tdi && !tdo) {
        skprb_append(cable, s, 'F');
        skprb_append(cable, s, static_cast<uint8_t>(m));
        skprb_append(cable, s, static_cast<uint8_t>(m >> 8));
        scratch.resize(m);
        for (int i = 0; i < m; ++i) scratch[i] = tdi[i] ? 1 : 0;
        skprb_append_bytes(cable, s, scratch.data(), m);
        skprb_append(cable, s, 0x00, true);
        return cable->alive ? JTAG_OK : JTAG_DISCONNECTED;
    }
    const int bytes = (m + 7) / 8;
    scratch.assign(bytes, 0);
    for (int i = 0; tdi && i < m; ++i) scratch[i / 8] |= (tdi[i] ? 1 : 0) << (i % 8);
    skprb_append(cable, s, 'S');
    skprb_append(cable, s, static_cast<uint8_t>(m & 0xFF));
    skprb_append(cable, s, tdo ? 0x02 : 0x00);
    skprb_append_bytes(cable, s, scratch.data(), bytes);
    if (!tdo) {
        skprb_append(cable, s, 0x00, true);
        return cable->alive ? JTAG_OK : JTAG_DISCONNECTED;
    }
    const int rc = exchange(cable, s, bytes);
    if (rc == JTAG_OK) unpack(s.reply.data(), m, tdo);
    return rc;
}

}  // namespace

extern "C" {

const SkprbCableInfo* skprb_get_cableinfo(void) {
    static const SkprbCableInfo info = {
        0xC199,           0x0110,           "Norvale SuperKeenProbe",
        "SuperKeenProbe", "no description", {0, 0, 1, 1, 1200000, 0}};
    return &info;
}

void* skprb_open(Cable* cable, const char* parameter) {
    if (!cable) return nullptr;
    try {
        auto record = std::make_unique<SkprbState>();
        record->parameter = parameter ? parameter : "";
        record->packet.resize(kSkprbPacketSize);
        cable->state = record.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    SkprbState& s = *skprb_record(cable);
    uint16_t vid = 0, pid = 0;
    char text[100] = {};
    if (!fx3_open(0, &vid, &pid, text, sizeof text)) return fail_open(cable);
    if (vid == 0x2129 && pid == 0x0640) {
        msg_print("KB2203(ノーヴェルArtix-7ボード)を発見しました\n");
        s.description = "Norvale Artix-7 Board";
    } else if (vid == 0x2129 && pid == 0x0520) {
        msg_print("KB2204(ノーヴェルFX3ボード)を発見しました\n");
        s.description = "Norvale FX-3 Board";
    } else {
        fx3_close();
        return fail_open(cable);
    }
    s.opened = true;
    return &s;
}

int skprb_init(Cable* cable) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_NULL;
    s->tap_state = UNKNOWN;
    skprb_append(cable, *s, 'X', true);
    const int n = ask(cable, *s, 'V', static_cast<int>(s->reply.size()));
    const std::string version(reinterpret_cast<const char*>(s->reply.data()), n > 0 ? n : 0);
    if (version.find(kFirmwareId) == std::string::npos) {
        msg_print("Hardware error.");
        return JTAG_FAIL;
    }
    msg_print("%s", version.size() > 5 ? version.c_str() + 5 : "");
    if (ask(cable, *s, 'Q', kStatusMax) < 1) {
        msg_print("Hardware error.");
        return JTAG_FAIL;
    }
    s->superspeed = s->reply[0] & 0x10;
    if (s->superspeed) {
        s->description = "Norvale Artix-7 Board (SuperSpeed)";
        msg_print("Detect USB3.0 SuperSpeed mode");
    } else {
        s->description = "Norvale Artix-7 Board (HighSpeed)";
        msg_print("Detect USB3.0 HighSpeed mode");
    }
    return JTAG_OK;
}

int skprb_close(Cable* cable) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_NULL;
    std::unique_ptr<SkprbState> owned(s);
    skprb_append(cable, *s, 'E', true);
    if (s->opened) fx3_close();
    return JTAG_OK;
}

int skprb_tap_goto(Cable* cable, unsigned target, int flush) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_NULL;
    // Walked on a copy: a target the walk cannot reach leaves the recorded state as it was.
    // UNKNOWN is a target too: one TMS-low clock, the first half of a full TAP reset.
    unsigned state = s->tap_state;
    uint8_t tms[kTapWalkLimit];
    const int steps = tap_walk(&state, target, tms);
    if (steps <= 0) return steps == 0 ? JTAG_OK : JTAG_FAIL;
    s->tap_state = state;
    for (int i = 0; i < steps; ++i) {
        skprb_append(cable, *s, 'M');
        skprb_append(cable, *s, tms[i] ? 0x33 : 0x32);
    }
    skprb_append(cable, *s, 0x00, flush != 0);
    return cable->alive ? JTAG_OK : JTAG_DISCONNECTED;
}

int skprb_shift_inout(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                      const uint8_t*, const uint8_t*, uint8_t* capture, int kind, int nocap, int,
                      const char*, int flush) {
    SkprbState* s = skprb_record(cable);
    if (!s || count < 0) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (count == 0) return JTAG_OK;
    const bool read = !(nocap & 3);
    if (read && !capture) return JTAG_FAIL;
    if (read) flush = 1;

    std::vector<uint8_t> packed;
    try {
        packed.assign((count + 7) / 8, 0);
    } catch (const std::bad_alloc&) {
        return JTAG_FAIL;
    }
    if (tdi && tdimask) {
        for (int i = 0; i < count; ++i) packed[i / 8] |= ((tdi[i] & tdimask[i]) ? 1 : 0) << (i % 8);
    }
    for (int start = 0; start < count; start += kShiftChunk) {
        const int m = std::min(kShiftChunk, count - start);
        const bool last = start + m == count;
        skprb_append(cable, *s, 'S');
        skprb_append(cable, *s, static_cast<uint8_t>(m & 0xFF));
        skprb_append(cable, *s, (last ? 0x01 : 0x00) | (read ? 0x02 : 0x00));
        skprb_append_bytes(cable, *s, packed.data() + start / 8, (m + 7) / 8);
        if (last) s->tap_state = kind == 1 ? EXIT1_IR : EXIT1_DR;
        if (!flush) continue;
        if (!read) {
            skprb_append(cable, *s, 0x00, true);
            if (capture) std::memset(capture + start, 0, m);
            continue;
        }
        const int rc = exchange(cable, *s, (m + 7) / 8);
        if (rc != JTAG_OK) return rc;
        unpack(s->reply.data(), m, capture + start);
    }
    return cable->alive ? JTAG_OK : JTAG_DISCONNECTED;
}

int skprb_runtest(Cable* cable, unsigned state, int64_t usec, int64_t clocks, int, const char*,
                  int flush, const uint8_t* tdi, uint8_t* tdo) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (usec != 0) return runtest_wait(cable, *s, usec);
    if (clocks < 0) return JTAG_FAIL;
    if (state != UNKNOWN) {
        const int rc = skprb_tap_goto(cable, state, flush);
        if (rc != JTAG_OK) return rc;
    }
    const int64_t chunk = s->superspeed ? 1000 : 480;
    std::vector<uint8_t> scratch;
    for (int64_t done = 0; done < clocks;) {
        const int m = static_cast<int>(std::min(chunk, clocks - done));
        const int rc = runtest_chunk(cable, *s, m, tdi ? tdi + done : nullptr,
                                     tdo ? tdo + done : nullptr, scratch);
        if (rc != JTAG_OK) return rc;
        done += m;
    }
    return JTAG_OK;
}

}  // extern "C"

void skprb_append(Cable* cable, SkprbState& s, uint8_t byte, bool flush) {
    if (s.packet_length == 0) {
        s.packet[0] = 'T';
        s.packet[1] = 'K';
        s.packet_length = 2;
    }
    s.packet[s.packet_length++] = byte;
    if (flush || s.packet_length == kSkprbPacketSize) skprb_send(cable, s);
}

void skprb_append_bytes(Cable* cable, SkprbState& s, const uint8_t* data, size_t length) {
    while (length > 0) {
        if (s.packet_length == 0 || s.packet_length + 1 == kSkprbPacketSize) {
            skprb_append(cable, s, *data++);
            --length;
            continue;
        }
        const size_t n = std::min(length, kSkprbPacketSize - s.packet_length - 1);
        std::memcpy(s.packet.data() + s.packet_length, data, n);
        s.packet_length += n;
        data += n;
        length -= n;
    }
}

bool skprb_send(Cable* cable, SkprbState& s) {
    const int length = static_cast<int>(s.packet_length);
    s.packet_length = 0;
    if (length == 0) return cable->alive != 0;
    if (!cable->alive) return false;
    if (fx3_write(2, s.packet.data(), length) != length) {
        cable->alive = 0;
        return false;
    }
    return true;
}

int skprb_read(Cable* cable, SkprbState& s, int max) {
    const int n = fx3_read(0x82, s.reply.data(), std::min(max, static_cast<int>(s.reply.size())));
    if (n <= 0) {
        cable->alive = 0;
        return -1;
    }
    return n;
}
