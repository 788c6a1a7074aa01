#include "cables/skprb.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <span>
#include <utility>

#include "cables/bit_pack.h"
#include "cables/driver_record.h"
#include "cables/fx3.h"
#include "cables/skprb_state.h"
#include "cables/usb_ids.h"
#include "jtag/c_boundary.h"
#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/status.h"

namespace {

// The text our firmware puts in its "V" reply.
constexpr char kFirmwareId[] = "NORVALE-FX3-JTAG";
constexpr int kOutEndpoint = 2, kInEndpoint = 0x82;
constexpr uint8_t kPacketPrefix[] = {'T', 'K'};
constexpr uint8_t kCmdEnd = 0x00;
constexpr int kShiftChunk = 256;
constexpr int kCaptureMaxSuperSpeed = 1024, kCaptureMaxHighSpeed = 512;
constexpr int kStatusMax = 64;
// The longest description the board gives; reserved before the board is opened.
constexpr size_t kDescriptionMax = 64;

int capture_max(const SkprbState& s) {
    return s.superspeed ? kCaptureMaxSuperSpeed : kCaptureMaxHighSpeed;
}

// A device another cable's open has taken over is gone for this cable: nothing more of its
// goes out, nothing of the other's comes back to it.
bool send_packet(int generation, std::span<const uint8_t> packet) {
    const int length = static_cast<int>(packet.size());
    return fx3_holds(generation) && fx3_write(kOutEndpoint, packet.data(), length) == length;
}

// Appends the end byte, sends the batch and reads its reply of at least `need` bytes into
// s.reply. 1, or 21 with the cable lost. A reply too short to hold the bits loses the cable too:
// the rest of it would arrive as the start of the next reply, so every later one would be out of
// step.
int take_reply(SkprbState& s, int need) {
    const int n = skprb_read(s, capture_max(s));
    if (n < 0) return JTAG_DISCONNECTED;
    return n >= need ? JTAG_OK : s.packets.lose();
}

// One reply as it comes, without settling deferred ones first.
int read_reply(SkprbState& s, int max) {
    const int n =
        fx3_holds(s.generation)
            ? fx3_read(kInEndpoint, s.reply.data(), std::min(max, static_cast<int>(s.reply.size())))
            : -1;
    if (n > 0) return n;
    s.packets.lose();
    return -1;
}

int exchange(SkprbState& s, int need) {
    if (const int rc = s.packets.append({kCmdEnd}, true); rc != JTAG_OK) return rc;
    return take_reply(s, need);
}

int runtest_wait(SkprbState& s, int64_t usec) {
    if (usec < 0 || usec > UINT32_MAX) return JTAG_FAIL;
    const uint32_t w = static_cast<uint32_t>(usec);
    const int rc = s.packets.append({'W', static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                                     static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)},
                                    true);
    if (rc != JTAG_OK) return rc;
    wait_us(usec);
    // The firmware expects the top byte of the wait once more, in a packet of its own.
    return s.packets.append({static_cast<uint8_t>(w >> 24)}, true);
}

int runtest_chunk(SkprbState& s, int m, const uint8_t* tdi, uint8_t* tdo,
                  std::vector<uint8_t>& scratch) {
    if (tdi && !tdo) {
        s.packets.append({'F', static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8)});
        scratch.resize(m);
        for (int i = 0; i < m; ++i) scratch[i] = tdi_bit(tdi, nullptr, i);
        s.packets.append(scratch);
        return s.packets.append({kCmdEnd}, true);
    }
    const int bytes = (m + 7) / 8;
    scratch.resize(bytes);
    pack_bits(tdi, nullptr, 0, m, scratch.data());
    s.packets.append(
        {'S', static_cast<uint8_t>(m & 0xFF), static_cast<uint8_t>(tdo ? 0x02 : 0x00)});
    s.packets.append(scratch);
    if (!tdo) return s.packets.append({kCmdEnd}, true);
    const int rc = exchange(s, bytes);
    if (rc == JTAG_OK) unpack_bits(s.reply.data(), m, tdo);
    return rc;
}

// Batches a long captured scan keeps on their way before reading the oldest reply: the board
// shifts the next ones while that reply crosses the bus. Deferred captures keep no more.
constexpr size_t kRepliesInFlight = 4;

// A captured scan's chunks: the short one, if any, comes first. A batch that ends in a short
// chunk after full ones can read to the firmware as one long chunk (the form runtest uses),
// whereas full chunks after the first never can.
int chunk_bits(int count, int at) {
    const int first = count % kShiftChunk == 0 ? kShiftChunk : count % kShiftChunk;
    return at == 0 ? first : kShiftChunk;
}

// Appends the chunks of a captured scan from bit `start` on, as many as one reply holds.
void append_chunks(SkprbState& s, int count, const uint8_t* tdi, const uint8_t* tdimask,
                   uint8_t* capture, int start, SkprbCaptureBatch* batch) {
    *batch = {capture, count, start, start, 0};
    std::vector<uint8_t>& chunk = s.scratch;  // the "S" command and its TDI bytes
    for (int m = chunk_bits(count, start);
         batch->end < count && batch->bytes + (m + 7) / 8 <= capture_max(s); m = kShiftChunk) {
        const bool last = batch->end + m == count;
        chunk.resize(3 + (m + 7) / 8);
        chunk[0] = 'S';
        chunk[1] = static_cast<uint8_t>(m & 0xFF);
        chunk[2] = static_cast<uint8_t>(0x02 | (last ? 0x01 : 0x00));
        pack_bits(tdimask ? tdi : nullptr, tdimask, batch->end, m, chunk.data() + 3);
        s.packets.append(chunk);
        batch->bytes += (m + 7) / 8;
        batch->end += m;
    }
}

// The same, ended by the end byte and sent for its reply.
int send_batch(SkprbState& s, int count, const uint8_t* tdi, const uint8_t* tdimask,
               uint8_t* capture, int start, SkprbCaptureBatch* batch) {
    append_chunks(s, count, tdi, tdimask, capture, start, batch);
    return s.packets.append({kCmdEnd}, true);
}

void unpack_batch(const SkprbCaptureBatch& b, const uint8_t* reply) {
    for (int at = b.start, m = chunk_bits(b.count, at); at < b.end; at += m, m = kShiftChunk) {
        unpack_bits(reply, m, b.capture + at);
        reply += (m + 7) / 8;
    }
}

// Reads the oldest deferred reply into its captures.
int settle_oldest(SkprbState& s) {
    const SkprbState::DeferredReply oldest = std::move(s.deferred.front());
    s.deferred.pop_front();
    const int n = read_reply(s, capture_max(s));
    if (n < oldest.bytes) {
        s.deferred.clear();
        return n < 0 ? JTAG_DISCONNECTED : s.packets.lose();
    }
    const uint8_t* reply = s.reply.data();
    for (const SkprbCaptureBatch& batch : oldest.batches) {
        unpack_batch(batch, reply);
        reply += batch.bytes;
    }
    return JTAG_OK;
}

// A captured scan, as many chunks to a batch as one reply holds.
int shift_captured(SkprbState& s, int count, const uint8_t* tdi, const uint8_t* tdimask,
                   uint8_t* capture) {
    if (const int rc = skprb_settle(s); rc != JTAG_OK) return rc;
    std::deque<SkprbCaptureBatch> sent;
    // Reads the oldest batch's reply.
    auto collect = [&]() -> int {
        const SkprbCaptureBatch b = sent.front();
        sent.pop_front();
        if (const int rc = take_reply(s, b.bytes); rc != JTAG_OK) return rc;
        unpack_batch(b, s.reply.data());
        return JTAG_OK;
    };
    for (int start = 0; start < count;) {
        SkprbCaptureBatch batch;
        if (const int rc = send_batch(s, count, tdi, tdimask, capture, start, &batch);
            rc != JTAG_OK)
            return rc;
        start = batch.end;
        sent.push_back(batch);
        if (sent.size() == kRepliesInFlight) {
            if (const int rc = collect(); rc != JTAG_OK) return rc;
        }
    }
    while (!sent.empty()) {
        if (const int rc = collect(); rc != JTAG_OK) return rc;
    }
    return JTAG_OK;
}

// A captured scan whose reply is read later (skprb_settle), when one reply holds it. Its chunks
// join the packet being filled: they go out with what follows and share its reply.
int reply_bytes(int count) {
    const int first = chunk_bits(count, 0);
    return (first + 7) / 8 + (count - first) / 8;
}

bool deferrable(const SkprbState& s, int count) {
    return reply_bytes(count) <= capture_max(s);
}

// Room left in a packet when a deferred capture joins it, for what follows until the next: its
// reply then comes with a batch flushed for it, never with a packet that merely filled up.
constexpr size_t kHeadroom = 4096;

int shift_deferred(SkprbState& s, int count, const uint8_t* tdi, const uint8_t* tdimask,
                   uint8_t* capture, int flush) {
    std::memset(capture, 0, static_cast<size_t>(count));
    const int bytes = reply_bytes(count);
    const size_t commands =
        static_cast<size_t>(bytes + 3 * ((count + kShiftChunk - 1) / kShiftChunk));
    // A reply holds at most capture_max bytes, and a chunk cut by the end of a packet would be
    // answered in the next packet's reply.
    if (s.deferring.bytes + bytes > capture_max(s) || s.packets.room() < commands + kHeadroom) {
        if (const int rc = s.packets.append({kCmdEnd}, true); rc != JTAG_OK) return rc;
    }
    SkprbCaptureBatch batch;
    append_chunks(s, count, tdi, tdimask, capture, 0, &batch);
    s.deferring.batches.push_back(batch);
    s.deferring.bytes += bytes;
    if (flush) {
        if (const int rc = s.packets.append({kCmdEnd}, true); rc != JTAG_OK) return rc;
    }
    // The board holds few replies; past that many on their way, the oldest is read.
    while (s.deferred.size() > kRepliesInFlight) {
        if (const int rc = settle_oldest(s); rc != JTAG_OK) return rc;
    }
    return s.packets.status();
}

}  // namespace

SkprbState::SkprbState(Cable& cable)
    : packets(cable, kSkprbPacketSize, kPacketPrefix, [this](std::span<const uint8_t> packet) {
          if (deferring.bytes > 0) deferred.push_back(std::exchange(deferring, {}));
          return send_packet(generation, packet);
      }) {}

namespace {

void* open_body(Cable* cable, const char* parameter) {
    if (!cable) return nullptr;
    OpeningRecord<SkprbState> s(*cable);
    s->parameter = parameter ? parameter : "";
    s->description.reserve(kDescriptionMax);
    uint16_t vid = 0, pid = 0;
    char text[100] = {};
    if (!fx3_open_tracked(0, &vid, &pid, text, sizeof text, &s->generation)) return nullptr;
    if (vid == usb_ids::kMakerVendor && pid == usb_ids::kKb2203Product) {
        msg_print(tr_ja("KB2203(ノーヴェルArtix-7ボード)を発見しました\n"));
        s->description = "Norvale Artix-7 Board";
    } else if (vid == usb_ids::kMakerVendor && pid == usb_ids::kKb2204Product) {
        msg_print(tr_ja("KB2204(ノーヴェルFX3ボード)を発見しました\n"));
        s->description = "Norvale FX-3 Board";
    } else {
        fx3_release(s->generation);
        return nullptr;
    }
    s->opened = true;
    return s.keep();
}

int init_body(Cable* cable) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_NULL;
    s->tap_state = UNKNOWN;
    s->packets.append({'X'}, true);
    const int n = skprb_ask(*s, 'V', static_cast<int>(s->reply.size()));
    const std::string version(reinterpret_cast<const char*>(s->reply.data()), n > 0 ? n : 0);
    if (version.find(kFirmwareId) == std::string::npos) {
        msg_print("Hardware error.");
        return JTAG_FAIL;
    }
    msg_print("%s", version.size() > 5 ? version.c_str() + 5 : "");
    if (skprb_ask(*s, 'Q', kStatusMax) < 1) {
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

int close_body(Cable* cable) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_NULL;
    std::unique_ptr<SkprbState> owned(s);
    s->packets.append({'E'}, true);
    fx3_release(s->generation);
    return JTAG_OK;
}

// A walk's commands: an "M" with the TMS level per clock, then the end byte.
struct Moves {
    int steps = 0;
    uint8_t bytes[2 * kTapWalkLimit + 1] = {};
};

Moves moves_of(unsigned* state, unsigned target) {
    Moves m;
    uint8_t tms[kTapWalkLimit];
    m.steps = tap_walk(state, target, tms);
    for (int i = 0; i < m.steps; ++i) {
        m.bytes[2 * i] = 'M';
        m.bytes[2 * i + 1] = tms[i] ? 0x33 : 0x32;
    }
    if (m.steps >= 0) m.bytes[2 * m.steps] = kCmdEnd;
    return m;
}

// Every scan walks twice between the sixteen states of the diagram: those commands are made once.
const Moves& diagram_moves(unsigned from, unsigned to) {
    static const auto table = [] {
        std::array<std::array<Moves, 16>, 16> t{};
        for (unsigned a = 0; a < 16; ++a) {
            for (unsigned b = 0; b < 16; ++b) {
                unsigned state = a;
                t[a][b] = moves_of(&state, b);
            }
        }
        return t;
    }();
    return table[from][to];
}

int tap_goto_body(Cable* cable, unsigned target, int flush) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_NULL;
    // Walked on a copy: a target the walk cannot reach leaves the recorded state as it was.
    // UNKNOWN is a target too: one TMS-low clock, the first half of a full TAP reset.
    unsigned state = s->tap_state;
    auto walk = [&](const Moves& m) -> int {
        if (m.steps <= 0) return m.steps == 0 ? JTAG_OK : JTAG_FAIL;
        s->tap_state = target;
        return s->packets.append(std::span<const uint8_t>(m.bytes, 2 * m.steps + 1), flush != 0);
    };
    if (state < 16 && target < 16) return walk(diagram_moves(state, target));
    return walk(moves_of(&state, target));
}

int shift_inout_body(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                     const uint8_t*, const uint8_t*, uint8_t* capture, int kind, int nocap, int,
                     const char*, int flush) {
    SkprbState* s = skprb_record(cable);
    if (!s || count < 0) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (count == 0) return JTAG_OK;
    const bool read = !(nocap & 3);
    if (read && !capture) return JTAG_FAIL;

    if (read) {
        s->tap_state = kind == 1 ? EXIT1_IR : EXIT1_DR;
        if ((nocap & kCableDeferCapture) && deferrable(*s, count))
            return shift_deferred(*s, count, tdi, tdimask, capture, flush);
        return shift_captured(*s, count, tdi, tdimask, capture);
    }
    std::vector<uint8_t>& chunk = s->scratch;  // the "S" command and its TDI bytes
    // A write-only scan goes out once, after its last chunk.
    for (int start = 0; start < count; start += kShiftChunk) {
        const int m = std::min(kShiftChunk, count - start);
        const bool last = start + m == count;
        chunk.resize(3 + (m + 7) / 8);
        chunk[0] = 'S';
        chunk[1] = static_cast<uint8_t>(m & 0xFF);
        chunk[2] = static_cast<uint8_t>(last);
        // Without a mask nothing is driven.
        pack_bits(tdimask ? tdi : nullptr, tdimask, start, m, chunk.data() + 3);
        s->packets.append(chunk);
        if (last) s->tap_state = kind == 1 ? EXIT1_IR : EXIT1_DR;
    }
    if (flush) {
        s->packets.append({kCmdEnd}, true);
        if (capture) std::memset(capture, 0, count);
    }
    return s->packets.status();
}

int runtest_body(Cable* cable, unsigned state, int64_t usec, int64_t clocks, int, const char*,
                 int flush, const uint8_t* tdi, uint8_t* tdo) {
    SkprbState* s = skprb_record(cable);
    if (!s) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (usec != 0) return runtest_wait(*s, usec);
    if (clocks < 0) return JTAG_FAIL;
    if (state != UNKNOWN) {
        const int rc = tap_goto_body(cable, state, flush);
        if (rc != JTAG_OK) return rc;
    }
    const int64_t chunk = s->superspeed ? 1000 : 480;
    std::vector<uint8_t>& scratch = s->scratch;  // one chunk's TDI: no chunk allocates
    scratch.reserve(chunk);
    for (int64_t done = 0; done < clocks;) {
        const int m = static_cast<int>(std::min(chunk, clocks - done));
        const int rc =
            runtest_chunk(*s, m, tdi ? tdi + done : nullptr, tdo ? tdo + done : nullptr, scratch);
        if (rc != JTAG_OK) return rc;
        done += m;
    }
    return JTAG_OK;
}

}  // namespace

// The driver table the cable layer fills for the name "skprb": each body behind the exception
// barrier.
const CableDriver* skprb_driver() {
    static const CableDriver driver = [] {
        CableDriver d;
        d.open = CBoundary<&open_body>::call;
        d.init = CBoundary<&init_body>::call;
        d.close = CBoundary<&close_body>::call;
        d.tap_goto = CBoundary<&tap_goto_body>::call;
        d.shift_inout = CBoundary<&shift_inout_body>::call;
        d.runtest = CBoundary<&runtest_body>::call;
        d.option = skprb_option_slot;
        return d;
    }();
    return &driver;
}

namespace {

// What a host's SkprbCable holds in its state: the driver's own Cable record, whose state is the
// driver's record. The host's alive flag goes into it before each call and comes back after, so
// a board found gone reads 0 on the host's record as well.
struct HostCable {
    Cable cable;
};

static_assert(sizeof(SkprbPin) == sizeof(CablePin) &&
              offsetof(SkprbPin, state) == offsetof(CablePin, state) &&
              offsetof(SkprbPin, name) == offsetof(CablePin, name));
static_assert(int{SKPRB_TAP_SHIFT_DR} == int{SHIFT_DR} &&
              int{SKPRB_TAP_EXIT1_IR} == int{EXIT1_IR} && int{SKPRB_TAP_UNKNOWN} == int{UNKNOWN});
static_assert(int{SKPRB_OPT_DESCRIPTION} == int{CABLE_OPT_DESCRIPTION} &&
              int{SKPRB_OPT_PIN_DRIVE} == int{CABLE_OPT_PIN_DRIVE});

// The driver's cable of a host record, null without one (the slots then answer as for a cable
// without a record).
Cable* driver_cable(SkprbCable* host) {
    HostCable* h = host ? static_cast<HostCable*>(host->state) : nullptr;
    if (!h) return nullptr;
    h->cable.alive = host->alive;
    return &h->cable;
}

template <class R>
R settled(SkprbCable* host, const Cable* cable, R result) {
    if (cable) host->alive = cable->alive;
    return result;
}

void* host_open(SkprbCable* host, const char* parameter) {
    if (!host) return nullptr;
    host->state = nullptr;
    host->alive = 1;
    auto h = std::make_unique<HostCable>();
    h->cable.name = "skprb";
    h->cable.param = parameter ? parameter : "";
    // A failed open has released its record and cleared the state itself.
    if (!open_body(&h->cable, parameter)) return nullptr;
    host->state = h.release();
    return host->state;
}

int host_close(SkprbCable* host) {
    Cable* cable = driver_cable(host);
    if (!cable) return JTAG_NULL;
    const std::unique_ptr<HostCable> owned(static_cast<HostCable*>(host->state));
    host->state = nullptr;
    const int result = close_body(cable);
    host->alive = cable->alive;
    return result;
}

}  // namespace

// The exported entry points, for hosts that keep their own C record of the cable.
extern "C" {

const SkprbCableInfo* skprb_get_cableinfo(void) {
    static const SkprbCableInfo info = {
        0xC199,           0x0110,           "Norvale SuperKeenProbe",
        "SuperKeenProbe", "no description", {0, 0, 1, 1, 1200000, 0}};
    return &info;
}

void* skprb_open(SkprbCable* cable, const char* parameter) {
    return CBoundary<&host_open>::call(cable, parameter);
}
int skprb_init(SkprbCable* host) {
    Cable* cable = driver_cable(host);
    return settled(host, cable, CBoundary<&init_body>::call(cable));
}
int skprb_close(SkprbCable* host) {
    return CBoundary<&host_close>::call(host);
}
int skprb_tap_goto(SkprbCable* host, unsigned target, int flush) {
    Cable* cable = driver_cable(host);
    return settled(host, cable, CBoundary<&tap_goto_body>::call(cable, target, flush));
}
int skprb_shift_inout(SkprbCable* host, int count, const uint8_t* tdi, const uint8_t* tdimask,
                      const uint8_t* tdo, const uint8_t* tdomask, uint8_t* capture, int kind,
                      int nocap, int reserved, const char* label, int flush) {
    Cable* cable = driver_cable(host);
    return settled(
        host, cable,
        CBoundary<&shift_inout_body>::call(cable, count, tdi, tdimask, tdo, tdomask, capture, kind,
                                           nocap, reserved, label, flush));
}
int skprb_runtest(SkprbCable* host, unsigned state, int64_t usec, int64_t clocks, int reserved,
                  const char* label, int flush, const uint8_t* tdi, uint8_t* tdo) {
    Cable* cable = driver_cable(host);
    return settled(host, cable,
                   CBoundary<&runtest_body>::call(cable, state, usec, clocks, reserved, label,
                                                  flush, tdi, tdo));
}
int skprb_option(SkprbCable* host, int code, const void* in, int reserved, void* out, int count,
                 int* outcount) {
    Cable* cable = driver_cable(host);
    return settled(host, cable, skprb_option_slot(cable, code, in, reserved, out, count, outcount));
}

}  // extern "C"

int skprb_read(SkprbState& s, int max) {
    return skprb_settle(s) == JTAG_OK ? read_reply(s, max) : -1;
}

int skprb_settle(SkprbState& s) {
    if (s.deferring.bytes > 0) {
        if (const int rc = s.packets.append({kCmdEnd}, true); rc != JTAG_OK) {
            s.deferred.clear();
            s.deferring = {};
            return rc;
        }
    }
    while (!s.deferred.empty()) {
        if (const int rc = settle_oldest(s); rc != JTAG_OK) return rc;
    }
    return s.packets.status();
}

int skprb_ask(SkprbState& s, uint8_t command, int max) {
    return s.packets.append({command}, true) == JTAG_OK ? skprb_read(s, max) : -1;
}
