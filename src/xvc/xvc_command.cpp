#include "xvc/xvc_command.h"

#include <cstring>

#include "jtag/msg.h"

namespace vireo::xvc {
namespace {

// Bytes that follow the first two of each command word (the word's rest and its colon).
constexpr size_t kGetInfoRest = 6;  // "tinfo:"
constexpr size_t kSetTckRest = 5;   // "ttck:"
constexpr size_t kShiftRest = 4;    // "ift:"

bool skip(XvcInput& input, size_t count) {
    std::array<uint8_t, 8> scratch{};
    return input.read_exact(std::span(scratch.data(), count));
}

bool head_is(const std::array<uint8_t, 2>& head, const char* word) {
    return head[0] == static_cast<uint8_t>(word[0]) && head[1] == static_cast<uint8_t>(word[1]);
}

}  // namespace

XvcRead xvc_read_command(XvcInput& input, XvcCommand* command) {
    XvcCommand& c = *command;
    c.bits = 0;
    c.tms.clear();
    c.tdi.clear();
    if (!input.read_exact(c.head)) return XvcRead::Closed;
    if (head_is(c.head, "ge")) {
        return skip(input, kGetInfoRest) ? XvcRead::GetInfo : XvcRead::Closed;
    }
    if (head_is(c.head, "se")) {
        if (!skip(input, kSetTckRest) || !input.read_exact(c.period)) return XvcRead::Closed;
        return XvcRead::SetTck;
    }
    if (!head_is(c.head, "sh")) return XvcRead::Invalid;
    if (!skip(input, kShiftRest)) return XvcRead::Closed;
    std::array<uint8_t, 4> length{};
    if (!input.read_exact(length)) return XvcRead::LengthFailed;
    c.bits = static_cast<uint32_t>(length[0]) | static_cast<uint32_t>(length[1]) << 8 |
             static_cast<uint32_t>(length[2]) << 16 | static_cast<uint32_t>(length[3]) << 24;
    const uint64_t bytes = xvc_vector_bytes(c.bits);
    if (bytes > kXvcMaxVectorBytes) return XvcRead::TooLarge;
    c.tms.resize(bytes);
    c.tdi.resize(bytes);
    if (!input.read_exact(c.tms) || !input.read_exact(c.tdi)) return XvcRead::DataFailed;
    return XvcRead::Shift;
}

std::string xvc_invalid_text(const std::array<uint8_t, 2>& head) {
    // The bytes as received, up to a zero byte, as a C string would show them.
    std::string shown;
    for (uint8_t b : head) {
        if (!b) break;
        shown.push_back(static_cast<char>(b));
    }
    return "invalid cmd '" + shown_text(shown) + "'\n";
}

}  // namespace vireo::xvc
