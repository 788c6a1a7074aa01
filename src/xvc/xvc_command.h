// The XVC 1.0 command reader: takes one command ("getinfo:", "settck:", "shift:") from a byte
// stream, with every length checked before anything is read into a buffer. It knows no socket:
// the server gives it its socket, the tests and the fuzz target a byte string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vireo::xvc {

// The longest vector a client may shift, in bytes (announced in the getinfo reply): 8192 bits.
inline constexpr size_t kXvcMaxVectorBytes = 1024;
inline constexpr uint32_t kXvcMaxBits = kXvcMaxVectorBytes * 8;
// The getinfo reply, 20 bytes.
inline constexpr char kXvcInfo[] = "xvcServer_v1.0:1024\n";

// Where the reader takes its bytes from.
class XvcInput {
  public:
    virtual ~XvcInput() = default;
    // Fills all of `bytes`; false when the stream failed, closed or timed out before that.
    virtual bool read_exact(std::span<uint8_t> bytes) = 0;
};

enum class XvcRead {
    GetInfo,       // "getinfo:"
    SetTck,        // "settck:" with its 4 period bytes
    Shift,         // "shift:" with the bit count and both vectors
    Closed,        // the stream ended or failed in the command word or before it
    Invalid,       // the first two bytes name no command
    LengthFailed,  // the stream ended in the bit count
    TooLarge,      // the vectors would exceed kXvcMaxVectorBytes each
    DataFailed,    // the stream ended in the vectors
};

struct XvcCommand {
    std::array<uint8_t, 2> head{};    // the first two bytes, as received
    std::array<uint8_t, 4> period{};  // settck: the TCK period bytes, unchanged
    uint32_t bits = 0;                // shift: the bit count
    std::vector<uint8_t> tms;         // shift: ceil(bits/8) bytes each
    std::vector<uint8_t> tdi;
};

// Bytes of a vector of `bits` bits, without overflow for any 32-bit count.
constexpr uint64_t xvc_vector_bytes(uint32_t bits) {
    return (static_cast<uint64_t>(bits) + 7) / 8;
}

// Reads one command into *command. A Shift result has tms and tdi of xvc_vector_bytes(bits) each;
// TooLarge leaves the vectors unread (the connection must end: the stream is out of step).
XvcRead xvc_read_command(XvcInput& input, XvcCommand* command);

// "invalid cmd '%s'\n" for the two bytes as received.
std::string xvc_invalid_text(const std::array<uint8_t, 2>& head);

}  // namespace vireo::xvc
