#include "devdb/bsreg.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "devdb/part.h"
#include "jtag/msg.h"

namespace {

constexpr uint8_t kPlaneDefaults[kBsRegPlanes] = {0, 1, 0, 1, 0};

bool valid(const BsReg* reg) {
    return reg && reg->tag == kBsRegTag;
}
bool valid_plane(int plane) {
    return plane >= 0 && plane < kBsRegPlanes;
}

// Resolves count 0 to "up to the end" and checks that the run lies inside the register.
bool resolve_run(const BsReg* reg, int offset, int& count) {
    if (offset < 0 || count < 0 || offset > reg->length) return false;
    if (count == 0) count = reg->length - offset;
    return static_cast<int64_t>(offset) + count <= reg->length;
}

// Only the bits in use (and the spare one after them), and of those only the ones written since
// the last reset: a register that once held a long scan keeps its capacity, and short scans must
// not pay for it.
void reset_planes(BsReg* reg) {
    for (int p = 0; p < kBsRegPlanes; ++p) {
        auto& plane = reg->planes[p];
        const int used = static_cast<int>(std::min(plane.size(), size_t(reg->length) + 1));
        if (reg->clean[p] >= used) continue;
        std::fill(plane.begin() + reg->clean[p], plane.begin() + used, kPlaneDefaults[p]);
        reg->clean[p] = used;
    }
}

// A run from `offset` on may now differ from the default.
void written(BsReg* reg, int plane, int offset) {
    reg->clean[plane] = std::min(reg->clean[plane], offset);
}

void allocate_planes(BsReg* reg, int length) {
    for (auto& plane : reg->planes) plane.assign(length + 1, 0);
    reg->clean.fill(0);
    reg->capacity = length + 1;
}

}  // namespace

BsReg* bsreg_new(int length) {
    if (length < 0) return nullptr;
    if (length == 0) length = 1;
    try {
        auto reg = std::make_unique<BsReg>();
        allocate_planes(reg.get(), length);
        reg->length = length;
        reset_planes(reg.get());
        return reg.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void bsreg_free(BsReg* reg) {
    if (!valid(reg)) return;
    reg->tag = 0;
    std::unique_ptr<BsReg> owned(reg);
}

int bsreg_length(const BsReg* reg) {
    return valid(reg) ? reg->length : 0;
}

int bsreg_resize(BsReg* reg, int length) {
    if (!valid(reg) || length < 0) return 0;
    if (length == 0) length = 1;
    if (reg->capacity < length) {
        try {
            allocate_planes(reg, length);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    reg->length = length;
    reset_planes(reg);
    return 1;
}

int bsreg_set(BsReg* reg, int plane, uint32_t value, int offset, int count) {
    if (!valid(reg) || !valid_plane(plane)) return 0;
    if (offset == -1) return 1;
    if (!resolve_run(reg, offset, count)) return 0;
    written(reg, plane, offset);
    uint8_t* bits = reg->planes[plane].data() + offset;
    for (int i = 0; i < count; ++i) bits[i] = i < 32 ? (value >> i) & 1 : 0;
    return 1;
}

int bsreg_fill(BsReg* reg, int plane, int bit, int offset, int count) {
    if (!valid(reg) || !valid_plane(plane) || !resolve_run(reg, offset, count)) return 0;
    written(reg, plane, offset);
    std::memset(reg->planes[plane].data() + offset, bit ? 1 : 0, count);
    return 1;
}

int bsreg_get(const BsReg* reg, int plane, int offset, int count, uint32_t* value) {
    if (!valid(reg) || !valid_plane(plane) || !value) return 0;
    if (count == 0) count = reg->length;
    if (!resolve_run(reg, offset, count)) return 0;
    const uint8_t* bits = reg->planes[plane].data() + offset;
    uint32_t packed = 0;
    for (int i = 0; i < count && i < 32; ++i) packed |= static_cast<uint32_t>(bits[i] & 1) << i;
    *value = packed;
    return 1;
}

int bsreg_read(const BsReg* reg, int plane, int offset, int count, uint8_t* destination) {
    if (!valid(reg) || !valid_plane(plane) || !destination) return 0;
    if (!resolve_run(reg, offset, count)) return 0;
    std::memcpy(destination, reg->planes[plane].data() + offset, count);
    return 1;
}

int bsreg_write(BsReg* reg, int plane, int offset, int count, const uint8_t* source) {
    if (!valid(reg) || !valid_plane(plane) || !source) return 0;
    if (!resolve_run(reg, offset, count)) return 0;
    written(reg, plane, offset);
    std::memcpy(reg->planes[plane].data() + offset, source, count);
    return 1;
}

uint8_t* bsreg_plane(BsReg* reg, int plane) {
    if (!valid(reg) || !valid_plane(plane)) return nullptr;
    written(reg, plane, 0);  // whatever the caller writes through it
    return reg->planes[plane].data();
}

const uint8_t* bsreg_plane_view(const BsReg* reg, int plane) {
    if (!valid(reg) || !valid_plane(plane)) return nullptr;
    return reg->planes[plane].data();
}

int bsreg_load_instruction(BsReg* reg, const PartRecord* part, const char* instruction) {
    if (!valid(reg) || !part) return 0;
    const int bits = part->ir_length > 0 ? part->ir_length : 0;  // 0: the whole register
    auto load = [&](uint32_t tdi, uint32_t tdi_mask, uint32_t tdo, uint32_t tdo_mask) {
        bsreg_set(reg, BSREG_TDI, tdi, 0, bits);
        bsreg_set(reg, BSREG_TDIMASK, tdi_mask, 0, bits);
        bsreg_set(reg, BSREG_TDO, tdo, 0, bits);
        bsreg_set(reg, BSREG_TDOMASK, tdo_mask, 0, bits);
    };
    if (instruction && std::strncmp(instruction, "0x", 2) == 0) {
        load(hex_value(instruction + 2), 0, part->ir_capture_value, part->ir_capture_mask);
        bsreg_fill(reg, BSREG_TDIMASK, 1, 0, bits);
        return 1;
    }
    if (instruction) {
        for (const PartInstruction& ins : part->instructions) {
            if (strcasecmp(ins.name.c_str(), instruction) == 0) {
                load(ins.value, ins.mask, part->ir_capture_value, part->ir_capture_mask);
                return 1;
            }
        }
    }
    bsreg_fill(reg, BSREG_TDI, 1, 0, bits);
    bsreg_fill(reg, BSREG_TDIMASK, 1, 0, bits);
    bsreg_fill(reg, BSREG_TDO, 0, 0, bits);
    bsreg_fill(reg, BSREG_TDOMASK, 0, 0, bits);
    return 0;
}

void bsreg_dump(const BsReg* reg) {
    if (!valid(reg)) {
        msg_print("BSREG is (null).\n");
        return;
    }
    static constexpr const char* kLabels[kBsRegPlanes] = {
        "TDI        :", "TDIMASK    :", "TDO        :", "TDOMASK    :", "TDOCAPTURE :"};
    msg_print("         MSB\n");
    for (int p = 0; p < kBsRegPlanes; ++p) {
        std::string line(reg->length, '0');
        for (int i = 0; i < reg->length; ++i) {
            if (reg->planes[p][reg->length - 1 - i]) line[i] = '1';
        }
        msg_print("%s", kLabels[p]);
        msg_print("%s\n", line.c_str());
    }
    msg_print("\n");
}
