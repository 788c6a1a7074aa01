#include "cables/fx3_image.h"

#include <algorithm>

namespace {

uint32_t u32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool in_range(uint64_t address, uint64_t length, uint64_t base, uint64_t size) {
    return address >= base && address + length <= base + size;
}

bool loadable(uint64_t address, uint64_t length) {
    return in_range(address, length, kFx3RamBase, kFx3RamSize) ||
           in_range(address, length, kFx3ItcmBase, kFx3ItcmSize);
}

bool carries_marker(const Fx3Section& s) {
    const auto& m = kFx3StandInText;
    return std::search(s.data.begin(), s.data.end(), m.begin(), m.end()) != s.data.end();
}

}  // namespace

std::string fx3_image_parse(const uint8_t* data, size_t size, Fx3Image* image) {
    if (!data || !image) return "no image";
    if (size > kFx3MaxImageBytes) return "image larger than the FX3's 512 KB of RAM";
    if (size < 4 || data[0] != 'C' || data[1] != 'Y')
        return "not an FX3 image (no \"CY\" signature)";
    if (data[2] & 1) return "FX3 image holds data only, not executable firmware";
    if (data[3] != 0xB0) return "FX3 image type is not 0xB0 (firmware with checksum)";

    Fx3Image out;
    uint32_t sum = 0;
    size_t pos = 4;
    for (;;) {
        if (size - pos < 8) return "FX3 image is truncated";
        const uint32_t words = u32(data + pos), address = u32(data + pos + 4);
        pos += 8;
        if (words == 0) {
            if (size - pos < 4) return "FX3 image is truncated";
            if (u32(data + pos) != sum) return "FX3 image checksum is wrong";
            if (size - pos != 4) return "FX3 image has data after its checksum";
            if (out.sections.empty()) return "FX3 image has no sections";
            if (address % 4 || !loadable(address, 4))
                return "FX3 image entry point lies outside RAM";
            out.entry = address;
            break;
        }
        const uint64_t bytes = uint64_t{words} * 4;
        if (bytes > size - pos) return "FX3 image is truncated";
        if (address % 4) return "FX3 image section address is not word aligned";
        if (!loadable(address, bytes)) return "FX3 image section lies outside RAM";
        Fx3Section section{address, std::vector<uint8_t>(data + pos, data + pos + bytes)};
        for (size_t i = 0; i < bytes; i += 4) sum += u32(data + pos + i);
        pos += bytes;
        out.stand_in = out.stand_in || carries_marker(section);
        out.sections.push_back(std::move(section));
    }
    *image = std::move(out);
    return "";
}

std::string fx3_image_check(const uint8_t* data, size_t size, Fx3Image* image) {
    Fx3Image parsed;
    std::string error = fx3_image_parse(data, size, &parsed);
    if (!error.empty()) return error;
    if (parsed.stand_in)
        return "this image is the VireoJTAG virtual board's stand-in, not firmware for real "
               "hardware";
    *image = std::move(parsed);
    return "";
}
