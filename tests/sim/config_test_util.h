// Helpers shared by the configuration-engine tests: feeding images the way CFG_IN sees them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/bitgen.h"
#include "sim/config_engine.h"

namespace vireo::sim::testing {

inline uint8_t reverse_bits(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r |= static_cast<uint8_t>(((b >> i) & 1) << (7 - i));
    return r;
}

// A .bit image as the cable puts it on TDI: each byte leaves with its bit 7 first.
inline std::vector<uint8_t> msb_first(const std::vector<uint8_t>& image) {
    std::vector<uint8_t> wire(image.size());
    for (size_t i = 0; i < image.size(); ++i) wire[i] = reverse_bits(image[i]);
    return wire;
}

inline std::vector<uint8_t> words_msb_first(const std::vector<uint32_t>& words) {
    std::vector<uint8_t> bytes;
    for (uint32_t w : words)
        for (int s = 24; s >= 0; s -= 8) bytes.push_back(static_cast<uint8_t>(w >> s));
    return msb_first(bytes);
}

// An engine with its log captured and a clock that only moves forward.
struct Fpga {
    explicit Fpga(const XilinxPart& part)
        : engine(part, [this](const std::string& line) { log.push_back(line); }) {}

    // JPROGRAM and wait until INIT is high again.
    void program_and_clear() {
        engine.program(now);
        wait(engine.part().clear_ns);
    }
    void wait(uint64_t ns) {
        now += ns;
        engine.advance(now);
    }
    // One Shift-DR of CFG_IN carrying the wire bytes.
    void shift_in(const std::vector<uint8_t>& wire, size_t nbits = SIZE_MAX) {
        engine.dr_capture();
        engine.cfg_in(wire.data(), std::min(nbits, wire.size() * 8));
    }
    // A whole configuration: JPROGRAM, clearing, the image, startup time.
    void configure(const std::vector<uint8_t>& image) {
        program_and_clear();
        shift_in(msb_first(image));
        wait(100'000);
    }
    // One Shift-DR of CFG_OUT; the first bit out is bit `bits - 1`.
    uint32_t shift_out(unsigned bits = 32) {
        std::vector<uint8_t> out(4);
        engine.dr_capture();
        engine.cfg_out(out.data(), bits);
        uint32_t v = 0;
        for (unsigned i = 0; i < bits; ++i) v = (v << 1) | ((out[i / 8] >> (i % 8)) & 1);
        return v;
    }
    bool logged(const std::string& text) const {
        for (const std::string& line : log)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    size_t count_logged(const std::string& text) const {
        size_t n = 0;
        for (const std::string& line : log) n += line.find(text) != std::string::npos;
        return n;
    }

    std::vector<std::string> log;
    ConfigEngine engine;
    uint64_t now = 0;
};

}  // namespace vireo::sim::testing
