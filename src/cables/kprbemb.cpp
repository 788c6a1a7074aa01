#include "cables/kprbemb.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <new>

#include "cables/bit_pack.h"
#include "cables/driver_record.h"
#include "cables/kprbemb_link.h"
#include "jtag/c_boundary.h"
#include "jtag/status.h"

namespace {

constexpr int kChunk1 = 256;  // protocol 1: bits per shift command
constexpr int kChunk2 = 500;  // protocol 2: bits per packet
constexpr size_t kReply1 = 256, kReply2 = 512;
constexpr size_t kWalkPacket = 512;
constexpr double kTicksPerMicrosecond = 0.52356020942408379156;  // one tick is 1.91 us

constexpr uint8_t kCmdEnd = 0x00, kCmdTms = 0x02, kCmdWait = 0x06, kCmdShift1 = 0x08;
constexpr uint8_t kCmdPacket = 0x10, kCmdPacketRead = 0x11;
constexpr uint8_t kBitTdi = 0x08, kBitTms = 0x80;

// One chunk of n TCKs in the protocol's format. TMS rises on the chunk's last TCK when exit is
// set. Returns the reply size, 0 without TDO.
size_t build_chunk(KprbembState& s, const uint8_t* tdi, const uint8_t* mask, int64_t first, int n,
                   bool read, bool exit) {
    std::vector<uint8_t>& b = s.scratch;
    b.clear();
    if (s.protocol == 1) {
        b = {kCmdShift1, static_cast<uint8_t>(n),
             static_cast<uint8_t>((exit ? 1 : 0) | (read ? 2 : 0))};
        b.resize(3 + (n + 7) / 8);
        pack_bits(tdi, mask, first, n, b.data() + 3);
    } else {
        b = {read ? kCmdPacketRead : kCmdPacket, static_cast<uint8_t>(n),
             static_cast<uint8_t>(n <= 256 ? 1 : 2)};
        b.resize(3 + n, 0);
        for (int i = 0; i < n; ++i) {
            if (tdi_bit(tdi, mask, first + i)) b[3 + i] = kBitTdi;
        }
        if (exit) b[3 + n - 1] |= kBitTms;
    }
    b.push_back(kCmdEnd);
    return read ? (s.protocol == 1 ? kReply1 : kReply2) : 0;
}

// Protocol 1 replies packed bits; protocol 2 one byte per bit, TDO in bit 1.
void unpack_reply(int protocol, const uint8_t* reply, uint8_t* out, int n) {
    if (protocol == 1) return unpack_bits(reply, n, out);
    for (int i = 0; i < n; ++i) out[i] = (reply[i] >> 1) & 1;
}

// Protocol 2 replies fill whole 512-byte USB packets, so the replies of this many chunks come
// back in one read. Protocol 1's 256-byte replies are short packets, each ending its transfer:
// the replies of this many chunks come back in as many reads, posted together, so that the
// round trip is paid once for them. Protocol 1 still sends each chunk in a write of its own.
constexpr int kReadGroup2 = 32;
constexpr int kReadGroup1 = 16;

// Batches of a long capture kept on their way before reading the oldest reply: the cable
// clocks the next ones while that reply crosses the bus.
constexpr size_t kRepliesInFlight = 4;

// count TCKs in chunks, the last one raising TMS when exit is set; TDO into out when given.
// 1, or 21 when the cable is lost (out then holds zeros from the first bits not read on).
// A batch's reads are posted before its first command is queued, and nothing waits for a queued
// write before that: the cable holds only a few replies and takes no command while they have
// nowhere to go, so a write waited for with its replies unread would wait for good.
int clock_bits(KprbembState& s, int64_t count, const uint8_t* tdi, const uint8_t* mask,
               uint8_t* out, bool exit, bool flush) {
    const int chunk = s.protocol == 1 ? kChunk1 : kChunk2;
    const size_t per_reply = s.protocol == 1 ? kReply1 : kReply2;
    const int group = !out ? 1 : s.protocol == 1 ? kReadGroup1 : kReadGroup2;
    struct Batch {
        int64_t first, next;  // the chunks it holds
        size_t reads;         // and the reads of its replies
    };
    std::deque<Batch> sent;
    std::vector<uint8_t> reply(group * per_reply);
    auto lost = [&](int64_t from) {
        if (out) std::memset(out + from, 0, static_cast<size_t>(count - from));
        return s.queue.lose();
    };
    // Reads the oldest batch's replies, all in one go.
    auto collect = [&]() {
        const Batch b = sent.front();
        const int64_t chunks = (b.next - b.first + chunk - 1) / chunk;
        const size_t bytes = static_cast<size_t>(chunks) * per_reply;
        if (kprb_stream_collect_replies(s, reply.data(), bytes / b.reads, b.reads) < 0)
            return false;
        sent.pop_front();
        for (int64_t at = b.first; at < b.next; at += chunk) {
            const uint8_t* from = reply.data() + (at - b.first) / chunk * per_reply;
            unpack_reply(s.protocol, from, out + at,
                         static_cast<int>(std::min<int64_t>(chunk, count - at)));
        }
        return true;
    };
    for (int64_t first = 0; first < count;) {
        const int64_t chunks = std::min<int64_t>(group, (count - first + chunk - 1) / chunk);
        Batch batch{first, std::min(count, first + chunks * chunk),
                    s.protocol == 1 ? static_cast<size_t>(chunks) : 1};
        if (out && kprb_stream_post_replies(
                       s, static_cast<size_t>(chunks) * per_reply / batch.reads, batch.reads) < 0)
            return lost(sent.empty() ? first : sent.front().first);
        for (int64_t at = first; at < batch.next; at += chunk) {
            const int n = static_cast<int>(std::min<int64_t>(chunk, count - at));
            build_chunk(s, tdi, mask, at, n, out != nullptr, exit && at + n == count);
            const bool sent_alone = out && (at + n == batch.next || s.protocol == 1);
            if (s.queue.append(s.scratch, flush || sent_alone) != JTAG_OK)
                return lost(sent.empty() ? first : sent.front().first);
        }
        if (out) sent.push_back(batch);
        if (sent.size() == kRepliesInFlight && !collect()) return lost(sent.front().first);
        first = batch.next;
    }
    while (!sent.empty()) {
        if (!collect()) return lost(sent.front().first);
    }
    return JTAG_OK;
}

}  // namespace

const CableDriver* kprbemb_driver() {
    static const CableDriver driver = [] {
        CableDriver d;
        d.open = CBoundary<&kprbemb_open>::call;
        d.init = CBoundary<&kprbemb_init>::call;
        d.close = CBoundary<&kprbemb_close>::call;
        d.tap_goto = CBoundary<&kprbemb_tap_goto>::call;
        d.shift_inout = CBoundary<&kprbemb_shift_inout>::call;
        d.runtest = CBoundary<&kprbemb_runtest>::call;
        d.option = CBoundary<&kprbemb_option>::call;
        return d;
    }();
    return &driver;
}

void* kprbemb_open(Cable* cable, const char* param) {
    if (!cable) return nullptr;
    OpeningRecord<KprbembState> record(*cable);
    KprbembState& s = *record;
    s.param = param ? param : "";
    bool found = false;
    for (const char* family : {"\\\\.\\XrCam-%d", "\\\\.\\nvsp6-%d"}) {
        for (int n = 0; n < 10 && !found; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, family, n);
            s.handle = devobj_open(name);
            if (s.handle == DEVOBJ_INVALID) continue;
            found = kprb_identify(s) && s.handle != DEVOBJ_INVALID;
            if (found)
                s.device_name = name;
            else
                kprb_drop_handle(s);  // a device we do not drive is left alone
        }
    }
    if (!found || !kprb_identify(s, true)) return nullptr;
    return record.keep();
}

int kprbemb_init(Cable* cable) {
    KprbembState* s = kprb_state(cable);
    if (!s) return JTAG_NULL;
    s->tap_state = UNKNOWN;
    const uint8_t init_request = 0x04;
    if (kprb_control_write(*s, &init_request, 1) < 0) {
        s->queue.lose();  // the handle is closed: nothing more reaches this cable
        return JTAG_FAIL;
    }
    return s->queue.append({0x00, 0x33, 0x00, 0x00}, true) == JTAG_OK ? JTAG_OK : JTAG_FAIL;
}

int kprbemb_close(Cable* cable) {
    KprbembState* s = kprb_state(cable);
    if (!s) return JTAG_NULL;
    const std::unique_ptr<KprbembState> owned(s);  // its release closes the handle
    return JTAG_OK;
}

// Protocol 1 walks with two bytes per TCK; protocol 2 sends the walk as one 512-byte packet.
// Both give up beyond kTapWalkLimit steps, so no target can keep the walk going.
int kprbemb_tap_goto(Cable* cable, unsigned target, int flush) {
    KprbembState* s = kprb_state(cable);
    if (!s) return JTAG_NULL;
    unsigned state = s->tap_state;
    uint8_t tms[kTapWalkLimit];
    const int steps = tap_walk(&state, target, tms);
    if (steps < 0) return JTAG_FAIL;
    if (steps == 0) return JTAG_OK;
    std::vector<uint8_t>& b = s->scratch;
    b.clear();
    if (s->protocol == 1) {
        for (int i = 0; i < steps; ++i)
            b.insert(b.end(), {kCmdTms, static_cast<uint8_t>(kCmdTms + tms[i])});
    } else {
        b = {kCmdPacket, static_cast<uint8_t>(steps), 0x01};
        for (int i = 0; i < steps; ++i) b.push_back(tms[i] ? kBitTms : 0x00);
        b.resize(kWalkPacket - 1, 0x00);
    }
    b.push_back(kCmdEnd);
    s->tap_state = state;
    return s->queue.append(b, flush != 0);
}

int kprbemb_shift_inout(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                        const uint8_t*, const uint8_t*, uint8_t* capture, int kind, int nocap, int,
                        const char*, int flush) {
    KprbembState* s = kprb_state(cable);
    if (!s) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (count <= 0) return JTAG_OK;
    if (!tdi || !tdimask) return JTAG_FAIL;
    const bool read = !(nocap & 3) && capture;
    const int status =
        clock_bits(*s, count, tdi, tdimask, read ? capture : nullptr, true, flush != 0);
    if (!read && capture) std::memset(capture, 0, static_cast<size_t>(count));
    if (status != JTAG_OK) return status;
    s->tap_state = kind == 1 ? EXIT1_IR : EXIT1_DR;
    return JTAG_OK;
}

int kprbemb_runtest(Cable* cable, unsigned state, int64_t usec, int64_t clocks, int, const char*,
                    int flush, const uint8_t* tdi, uint8_t* tdo) {
    KprbembState* s = kprb_state(cable);
    if (!s) return JTAG_FAIL;
    if (!cable->alive) return JTAG_DISCONNECTED;
    if (usec < 0) return JTAG_FAIL;
    if (usec > 0) {
        const double ticks = static_cast<double>(usec) * kTicksPerMicrosecond;
        const uint32_t t = ticks >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(ticks);
        const uint8_t wait[] = {kCmdWait, static_cast<uint8_t>(t), static_cast<uint8_t>(t >> 8),
                                static_cast<uint8_t>(t >> 16), static_cast<uint8_t>(t >> 24)};
        return s->queue.append(wait, flush != 0);
    }
    if (state != UNKNOWN) {
        const int moved = kprbemb_tap_goto(cable, state, flush);
        if (moved != JTAG_OK) return moved;
    }
    if (clocks <= 0) return JTAG_OK;
    return clock_bits(*s, clocks, tdi, nullptr, tdo, false, flush != 0);
}
