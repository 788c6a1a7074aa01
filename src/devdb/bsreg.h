// Scan register buffer: five parallel byte-per-bit planes for one register of a device.
// Byte i of a plane is bit i of the register, bit 0 nearest TDO (shifted out first).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct PartRecord;

constexpr int kBsRegTag = 1004;

enum BsRegPlane : int {
    BSREG_TDI = 0,
    BSREG_TDIMASK = 1,
    BSREG_TDO = 2,
    BSREG_TDOMASK = 3,
    BSREG_TDOCAPTURE = 4,
};
constexpr int kBsRegPlanes = 5;

struct BsReg {
    int tag = kBsRegTag;
    int length = 1;
    int capacity = 0;  // bytes per plane, never less than length
    std::array<std::vector<uint8_t>, kBsRegPlanes> planes;
    // Per plane, how many leading bytes are known to hold the plane's default: a resize resets
    // only what was written since, so that short scans repeated many times cost little.
    std::array<int, kBsRegPlanes> clean{};
};

// Every operation does nothing for a null or wrongly tagged register, a plane outside 0..4, or
// a run (offset, count; count 0 = to the end) that ends beyond the register, and answers 0.
BsReg* bsreg_new(int length);
void bsreg_free(BsReg* reg);
int bsreg_length(const BsReg* reg);
int bsreg_resize(BsReg* reg, int length);
// Writes count bits of value LSB first from offset; bits beyond the 32nd are 0. Offset -1 is
// "no such bit": nothing written, result 1.
int bsreg_set(BsReg* reg, int plane, uint32_t value, int offset, int count);
int bsreg_fill(BsReg* reg, int plane, int bit, int offset, int count);
// Packs a run of at most 32 bits into *value; count 0 means the whole register.
int bsreg_get(const BsReg* reg, int plane, int offset, int count, uint32_t* value);
int bsreg_read(const BsReg* reg, int plane, int offset, int count, uint8_t* destination);
int bsreg_write(BsReg* reg, int plane, int offset, int count, const uint8_t* source);
uint8_t* bsreg_plane(BsReg* reg, int plane);
// The same for reading only: unlike bsreg_plane, it leaves the plane counted as unwritten.
const uint8_t* bsreg_plane_view(const BsReg* reg, int plane);
// Prepares an instruction register from the part: a "0x..." literal or an instruction name.
// An unknown name loads the BYPASS pattern, clears the expected output and answers 0.
int bsreg_load_instruction(BsReg* reg, const PartRecord* part, const char* instruction);
void bsreg_dump(const BsReg* reg);
