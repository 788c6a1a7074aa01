#include "cables/kprbemb_link.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "jtag/lang.h"
#include "jtag/msg.h"

namespace {

// Longest single transfer when a buffer is 65536 bytes or more.
constexpr size_t kLargeTransfer = 65024;
constexpr size_t kShortTransfer = 64;

size_t transfer_size(size_t remaining) {
    return remaining >= 65536 ? kLargeTransfer : remaining;
}

int fail(KprbembState& s) {
    kprb_drop_handle(s);
    return -1;
}

// One bulk transfer; a call that moves nothing counts as failed, so loops always advance.
bool bulk(KprbembState& s, uint32_t code, uint32_t pipe, uint8_t* data, size_t size,
          size_t* moved) {
    uint32_t got = 0;
    if (!devobj_ioctl(s.handle, code, &pipe, sizeof pipe, data, static_cast<uint32_t>(size),
                      &got) ||
        got == 0 || got > size) {
        return false;
    }
    *moved = got;
    return true;
}

int read_all(KprbembState& s, uint32_t pipe, uint8_t* buffer, size_t size, size_t most) {
    if (s.handle == DEVOBJ_INVALID || !buffer) return -1;
    std::memset(buffer, 0, size);
    for (size_t done = 0; done < size;) {
        size_t moved = 0;
        if (!bulk(s, DEVOBJ_BULK_READ, pipe, buffer + done, std::min(size - done, most), &moved)) {
            std::memset(buffer, 0, size);  // nothing stale or partial is handed on
            return fail(s);
        }
        done += moved;
    }
    return static_cast<int>(size);
}

// One queued packet on the command stream, in as many writes as it takes.
bool stream_write(KprbembState& s, std::span<const uint8_t> packet) {
    if (s.handle == DEVOBJ_INVALID) return false;
    for (size_t done = 0; done < packet.size();) {
        size_t moved = 0;
        if (!bulk(s, DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_STREAM_OUT,
                  const_cast<uint8_t*>(packet.data() + done), transfer_size(packet.size() - done),
                  &moved)) {
            fail(s);
            return false;
        }
        done += moved;
    }
    return true;
}

bool same_name(const std::string& name, const char* known) {
    return name.size() == std::strlen(known) && strcasecmp(name.c_str(), known) == 0;
}

}  // namespace

KprbembState::KprbembState(Cable& cable)
    : queue(cable, kKprbQueueSize, {},
            [this](std::span<const uint8_t> packet) { return stream_write(*this, packet); }) {}

KprbembState::~KprbembState() {
    kprb_drop_handle(*this);
}

KprbembState* kprb_state(Cable* cable) {
    return cable ? static_cast<KprbembState*>(cable->state) : nullptr;
}

void kprb_drop_handle(KprbembState& s) {
    if (s.handle != DEVOBJ_INVALID) devobj_close(s.handle);
    s.handle = DEVOBJ_INVALID;
}

int kprb_control_write(KprbembState& s, const uint8_t* bytes, size_t size) {
    if (s.handle == DEVOBJ_INVALID) return -1;
    size_t moved = 0;
    if (!bulk(s, DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_CONTROL_OUT, const_cast<uint8_t*>(bytes), size,
              &moved)) {
        return fail(s);
    }
    return static_cast<int>(moved);
}

int kprb_control_read(KprbembState& s, uint8_t* buffer, size_t size) {
    return read_all(s, DEVOBJ_PIPE_CONTROL_IN, buffer, size, kShortTransfer);
}

int kprb_stream_read(KprbembState& s, uint8_t* buffer, size_t size) {
    return read_all(s, DEVOBJ_PIPE_STREAM_IN, buffer, size, transfer_size(size));
}

int kprb_stream_post_replies(KprbembState& s, size_t size, size_t count) {
    if (s.handle == DEVOBJ_INVALID || size == 0 || count == 0 || size * count > UINT32_MAX)
        return -1;
    if (!devobj_post_reads(s.handle, DEVOBJ_PIPE_STREAM_IN, static_cast<uint32_t>(size),
                           static_cast<uint32_t>(count)))
        return fail(s);
    return 0;
}

int kprb_stream_collect_replies(KprbembState& s, uint8_t* buffer, size_t size, size_t count) {
    const size_t total = size * count;
    if (s.handle == DEVOBJ_INVALID || !buffer || total == 0 || total > UINT32_MAX) return -1;
    std::memset(buffer, 0, total);
    uint32_t got = 0;
    if (!devobj_collect_reads(s.handle, DEVOBJ_PIPE_STREAM_IN, buffer, static_cast<uint32_t>(size),
                              static_cast<uint32_t>(count), &got) ||
        got == 0 || got > total) {
        std::memset(buffer, 0, total);
        return fail(s);
    }
    if (got < total && read_all(s, DEVOBJ_PIPE_STREAM_IN, buffer + got, total - got,
                                transfer_size(total - got)) < 0) {
        std::memset(buffer, 0, got);  // nothing stale or partial is handed on
        return -1;
    }
    return static_cast<int>(total);
}

bool kprb_identify(KprbembState& s, bool quiet) {
    const uint8_t request[4] = {2, 0, 0x1B, 0x00};  // index 2, language 0x001B
    uint8_t descriptor[256] = {};
    uint32_t got = 0;
    if (s.handle == DEVOBJ_INVALID ||
        !devobj_ioctl(s.handle, DEVOBJ_STRING, request, sizeof request, descriptor,
                      sizeof descriptor, &got)) {
        return false;
    }
    // Characters the length byte announces, but never past what actually arrived.
    int count = static_cast<int8_t>(descriptor[0]) / 2 - 1;
    count = std::min(count, (static_cast<int>(got) - 2) / 2);
    std::string name;
    for (int i = 0; i < count; ++i) name += static_cast<char>(descriptor[2 + 2 * i]);

    if (same_name(name, "KeenProbe")) {
        s.protocol = 1;
        return true;
    }
    if (same_name(name, "KeenProbeC") || same_name(name, "KV3301")) {
        s.protocol = 2;
        return true;
    }
    if (same_name(name, "NRVL-SP6-Brd") || same_name(name, "NRVL-SP7-Brd")) {
        const uint8_t version_request = 0x09;
        uint8_t version[64];
        if (kprb_control_write(s, &version_request, 1) < 0 ||
            kprb_control_read(s, version, sizeof version) < 0) {
            return false;
        }
        if (!quiet) msg_print("Embedded KeenProbe Version %d.%d\n", version[0], version[1]);
        if (version[0] == 1 && version[1] == 0) {
            s.protocol = 1;
            return true;
        }
        if (version[0] == 1 && version[1] >= 2) {
            s.protocol = 2;
            return true;
        }
        msg_print(tr_ja("KeenProbeのバージョンが想定外のため続行できません。\n"));
    }
    if (same_name(name, "USB2.0-JTAG")) s.protocol = 1;  // known, but not driven
    return false;
}
