// The soundness check of the XVC command reader, shared by its fuzz target and the regression
// tests: every command of a byte stream is read with sound lengths, and the stream's end or a
// bad command ends the reading.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "xvc/xvc_command.h"

namespace vireo::fuzz {

// A byte string as the reader's stream; reads past its end fail.
class BytesInput final : public xvc::XvcInput {
  public:
    explicit BytesInput(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool read_exact(std::span<uint8_t> out) override {
        if (out.size() > bytes_.size() - at_) {
            at_ = bytes_.size();
            return false;
        }
        for (uint8_t& b : out) b = bytes_[at_++];
        return true;
    }
    size_t consumed() const { return at_; }

  private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

// "" when every command read from data is sound, else what is wrong.
inline std::string check_xvc_reader(const uint8_t* data, size_t size) {
    BytesInput input(std::span(data, size));
    xvc::XvcCommand command;
    for (;;) {
        const size_t before = input.consumed();
        const xvc::XvcRead r = xvc::xvc_read_command(input, &command);
        if (input.consumed() > size) return "read past the end of the stream";
        switch (r) {
            case xvc::XvcRead::GetInfo:
            case xvc::XvcRead::SetTck:
                if (input.consumed() - before != (r == xvc::XvcRead::GetInfo ? 8u : 11u))
                    return "a fixed-size command took the wrong byte count";
                continue;
            case xvc::XvcRead::Shift: {
                const uint64_t bytes = xvc::xvc_vector_bytes(command.bits);
                if (command.bits > xvc::kXvcMaxBits) return "a shift past 8192 bits was read";
                if (command.tms.size() != bytes || command.tdi.size() != bytes)
                    return "vector sizes differ from the bit count";
                if (input.consumed() - before != 10 + 2 * bytes)
                    return "a shift took the wrong byte count";
                continue;
            }
            case xvc::XvcRead::TooLarge:
                if (command.bits <= xvc::kXvcMaxBits) return "a servable shift was refused";
                return "";
            default:
                return "";
        }
    }
}

}  // namespace vireo::fuzz
