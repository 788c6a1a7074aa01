#include "sim/fx3_bootloader.h"

#include <cstring>

#include "sim/virtual_board.h"

namespace vireo::sim {
namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool inside(uint32_t address, size_t length, uint32_t base, uint32_t size) {
    return address >= base && address - base <= size && length <= size - (address - base);
}

}  // namespace

std::vector<uint8_t> fx3_image_bytes(const std::vector<Fx3ImageSection>& sections, uint32_t entry) {
    std::vector<uint8_t> out = {'C', 'Y', 0x1C, 0xB0};
    uint32_t sum = 0;
    for (const Fx3ImageSection& s : sections) {
        put32(out, static_cast<uint32_t>(s.words.size()));
        put32(out, s.address);
        for (uint32_t w : s.words) {
            put32(out, w);
            sum += w;
        }
    }
    put32(out, 0);
    put32(out, entry);
    put32(out, sum);
    return out;
}

std::vector<uint8_t> fx3_stand_in_image() {
    std::vector<uint8_t> text(kFx3StandInMarker.begin(), kFx3StandInMarker.end());
    text.resize((text.size() + 4) / 4 * 4, 0);  // zero-terminated, whole words
    Fx3ImageSection code{kFx3StandInEntry, {kArmBranchToSelf}};
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t w = 0;
        std::memcpy(&w, text.data() + i, 4);  // little-endian host, as the FX3
        code.words.push_back(w);
    }
    return fx3_image_bytes({code}, kFx3StandInEntry);
}

uint8_t* Fx3BootLoader::at(uint32_t address, size_t length) {
    if (inside(address, length, kFx3RamBase, kFx3RamSize))
        return ram_.data() + (address - kFx3RamBase);
    if (inside(address, length, kFx3ItcmBase, kFx3ItcmSize))
        return itcm_.data() + (address - kFx3ItcmBase);
    return nullptr;
}

const uint8_t* Fx3BootLoader::at(uint32_t address, size_t length) const {
    return const_cast<Fx3BootLoader*>(this)->at(address, length);
}

bool Fx3BootLoader::write_memory(uint32_t address, const uint8_t* data, size_t length) {
    uint8_t* dst = at(address, length);
    if (!dst || (!data && length)) return false;
    if (length) std::memcpy(dst, data, length);
    return true;
}

bool Fx3BootLoader::read_memory(uint32_t address, uint8_t* data, size_t length) const {
    const uint8_t* src = at(address, length);
    if (!src || (!data && length)) return false;
    if (length) std::memcpy(data, src, length);
    return true;
}

bool Fx3BootLoader::jump(uint32_t entry) {
    const size_t need = 4 + kFx3StandInMarker.size();
    const uint8_t* code = at(entry, need);
    if (!code) return false;
    uint32_t first = 0;
    std::memcpy(&first, code, 4);
    if (first != kArmBranchToSelf ||
        std::memcmp(code + 4, kFx3StandInMarker.data(), kFx3StandInMarker.size()) != 0)
        return false;
    board_.become_board();
    return true;
}

}  // namespace vireo::sim
