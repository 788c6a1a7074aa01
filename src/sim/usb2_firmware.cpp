#include "sim/usb2_firmware.h"

#include <algorithm>
#include <cstring>

namespace vireo::sim {
namespace {

constexpr int kStreamOut = 0, kStreamIn = 2, kControlOut = 4, kControlIn = 5;
constexpr uint64_t kWaitTickNs = 1910;
constexpr uint8_t kStatusTargetPowered = 0x01;
constexpr size_t kPacket2MaxBits = 512;
constexpr size_t kPacketSize = 512;  // of a high-speed bulk endpoint

// "1.2" -> {1, 2}; the text was checked when the option was parsed.
std::pair<uint8_t, uint8_t> parse_version(const std::string& text) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos) return {0, 0};
    auto number = [](const std::string& s) {
        unsigned long v = 0;
        for (char c : s) v = std::min(v * 10 + static_cast<unsigned long>(c - '0'), 255ul);
        return static_cast<uint8_t>(v);
    };
    return {number(text.substr(0, dot)), number(text.substr(dot + 1))};
}

bool bit_of(const uint8_t* packed, size_t i) {
    return (packed[i / 8] >> (i % 8)) & 1;
}

}  // namespace

std::optional<Usb2Identity> usb2_identity(const SimConfig& config) {
    if (!config.preset) return std::nullopt;
    const Transport& t = config.preset->transport;
    Usb2Identity id;
    id.product = t.name;
    if (t.kind == TransportKind::Usb2Board) {
        std::tie(id.major, id.minor) = parse_version(config.firmware);
        id.protocol = id.major > 1 || (id.major == 1 && id.minor >= 2) ? 2 : 1;
    } else if (t.kind == TransportKind::Usb2Cable) {
        id.protocol = t.protocol;
        id.major = 1;
        id.minor = t.protocol == 2 ? 2 : 0;
    } else {
        return std::nullopt;
    }
    return id;
}

size_t Usb2Firmware::Fifo::pop(uint8_t* out, size_t max) {
    const size_t n = std::min(max, size());
    std::memcpy(out, bytes.data() + head, n);
    head += n;
    if (head == bytes.size()) clear();
    return n;
}

Usb2Firmware::Usb2Firmware(Usb2Identity identity) : id_(std::move(identity)) {}

std::vector<uint8_t> Usb2Firmware::string_descriptor(uint8_t index) const {
    const std::string text = index == 2 ? id_.product.substr(0, 126) : std::string();
    std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        d.push_back(static_cast<uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

bool Usb2Firmware::receive(int pipe, const uint8_t* data, size_t size, TapChain& chain) {
    if (pipe == kControlOut) {
        control(data, size);
        return true;
    }
    if (pipe != kStreamOut) return false;
    std::vector<uint8_t> joined;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    if (!partial_.empty()) {
        joined.swap(partial_);
        joined.insert(joined.end(), data, data + size);
        p = joined.data();
        end = p + joined.size();
    }
    while (p < end) {
        const size_t used = run_command(p, end, chain);
        if (stalled_) {  // the rest of the transfer is not taken
            stalled_ = false;
            partial_.clear();
            return false;
        }
        if (used == 0) {
            partial_.assign(p, end);
            break;
        }
        p += used;
    }
    return true;
}

void Usb2Firmware::post_in(size_t size) {
    if (!id_.in_buffers) return;
    open_in_.push_back(size);
    ++in_posted_;
    while (!held_.empty() && !open_in_.empty()) {
        give_in(held_.front());
        held_.pop_front();
    }
}

void Usb2Firmware::end_in(uint64_t n) {
    while (in_ended_ < n && !open_in_.empty()) {
        open_in_.pop_front();
        ++in_ended_;
    }
}

bool Usb2Firmware::room_for_reply() {
    stalled_ = id_.in_buffers && open_in_.empty() && held_.size() >= id_.in_buffers;
    return !stalled_;
}

void Usb2Firmware::push_reply(const uint8_t* data, size_t n) {
    stream_out_.push(data, n);
    if (!id_.in_buffers) return;
    if (open_in_.empty())
        held_.push_back(n);
    else
        give_in(n);
}

void Usb2Firmware::give_in(size_t packet) {
    size_t& room = open_in_.front();
    room -= std::min(room, packet);
    if (room == 0 || packet < kPacketSize) {  // full, or ended by a short packet
        open_in_.pop_front();
        ++in_ended_;
    }
}

size_t Usb2Firmware::reply(int pipe, uint8_t* out, size_t max) {
    if (pipe == kStreamIn) return stream_out_.pop(out, max);
    if (pipe == kControlIn) return control_out_.pop(out, max);
    return 0;
}

size_t Usb2Firmware::pending(int pipe) const {
    if (pipe == kStreamIn) return stream_out_.size();
    if (pipe == kControlIn) return control_out_.size();
    return 0;
}

void Usb2Firmware::control(const uint8_t* data, size_t size) {
    if (size == 0) return;
    uint8_t answer[kShortReply] = {};
    switch (data[0]) {
        case 0x04:  // init: the JTAG engine starts afresh
            partial_.clear();
            stream_out_.clear();
            held_.clear();
            mode_ = 0;
            return;
        case 0x06:
            answer[0] = 1;
            break;
        case 0x09:
            answer[0] = id_.major;
            answer[1] = id_.minor;
            break;
        default:
            return;
    }
    control_out_.push(answer, sizeof answer);
}

size_t Usb2Firmware::run_command(const uint8_t* p, const uint8_t* end, TapChain& chain) {
    const size_t avail = static_cast<size_t>(end - p);
    switch (p[0]) {
        case 0x00:
            return 1;
        case 0x33:
            pins_ = 0x33;
            return 1;
        case 0x03:
            if (avail < 2) return 0;
            pins_ = p[1];
            return 2;
        case 0x04: {
            if (avail < 2 || !room_for_reply()) return 0;
            mode_ = p[1];
            uint8_t answer[kStreamReply1] = {kStatusTargetPowered, mode_};
            push_reply(answer, sizeof answer);
            return 2;
        }
        case 0x06: {
            if (avail < 5) return 0;
            const uint32_t ticks =
                p[1] | p[2] << 8 | p[3] << 16 | static_cast<uint32_t>(p[4]) << 24;
            chain.wait_ns(ticks * kWaitTickNs);
            return 5;
        }
        default:
            break;
    }
    if (id_.protocol == 1 && p[0] == 0x02) {
        if (avail < 2) return 0;
        chain.clock(p[1] & 1, false);
        return 2;
    }
    if (id_.protocol == 1 && p[0] == 0x08) return shift1(p, avail, chain);
    if (id_.protocol == 2 && (p[0] == 0x10 || p[0] == 0x11)) return packet2(p, avail, chain);
    ++skipped_;
    return 1;
}

size_t Usb2Firmware::shift1(const uint8_t* p, size_t avail, TapChain& chain) {
    if (avail < 3) return 0;
    const size_t n = p[1] ? p[1] : 256;
    const size_t length = 3 + (n + 7) / 8;
    if (avail < length) return 0;
    const bool tms_last = p[2] & 1, read = p[2] & 2;
    if (read && !room_for_reply()) return 0;
    const uint8_t* tdi = p + 3;
    if (read) {
        tdo_.assign(kStreamReply1, 0);
        chain.shift(tdi, tdo_.data(), n, tms_last);
        push_reply(tdo_.data(), tdo_.size());
    } else if (!tms_last && std::all_of(tdi, p + length, [](uint8_t b) { return b == 0; })) {
        chain.run_clocks(n);  // idle clocks run in bulk
    } else {
        chain.shift(tdi, nullptr, n, tms_last);
    }
    return length;
}

// Runs of TMS-low bits, each closed by a TMS-high bit or the packet's end, go to the chain as
// one shift: bulk in the shift states, clock by clock elsewhere.
size_t Usb2Firmware::packet2(const uint8_t* p, size_t avail, TapChain& chain) {
    if (avail < 3) return 0;
    if (p[2] != 1 && p[2] != 2) {
        ++skipped_;
        return 1;
    }
    const size_t n = (p[2] - 1) * 256 + (p[1] ? p[1] : 256);
    if (avail < 3 + n) return 0;
    const bool read = p[0] == 0x11;
    if (read && !room_for_reply()) return 0;
    const uint8_t* bits = p + 3;
    uint8_t reply[kStreamReply2] = {};
    uint8_t tdi[kPacket2MaxBits / 8], tdo[kPacket2MaxBits / 8];
    for (size_t start = 0; start < n;) {
        size_t last = start;
        while (!(bits[last] & 0x80) && last + 1 < n) ++last;
        const size_t len = last - start + 1;
        const bool tms_last = bits[last] & 0x80;
        if (!read && !tms_last &&
            std::all_of(bits + start, bits + last + 1, [](uint8_t b) { return b == 0; })) {
            chain.run_clocks(len);  // idle clocks run in bulk
            start = last + 1;
            continue;
        }
        std::memset(tdi, 0, sizeof tdi);
        for (size_t i = 0; i < len; ++i) tdi[i / 8] |= ((bits[start + i] >> 3) & 1) << (i % 8);
        chain.shift(tdi, read ? tdo : nullptr, len, tms_last);
        if (read) {
            for (size_t i = 0; i < len; ++i) reply[start + i] = bit_of(tdo, i) << 1;
        }
        start = last + 1;
    }
    if (read) push_reply(reply, sizeof reply);
    return 3 + n;
}

}  // namespace vireo::sim
