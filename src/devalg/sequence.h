// JTAG steps the configuration sequences of both families are built from.
#pragma once

#include <cstdint>

#include "devalg/devalg_state.h"

constexpr int kImagePieceBits = 16384;

// Loads an instruction literal ("0x0b") into the FPGA and shifts the chain's instruction
// registers; the other devices shift what theirs hold.
void load_instruction(DevAlgModule* module, const char* code, const char* label, int flags = 0);
// Zero bits that bring the bypass bits of the other n - 1 devices to a multiple of 32.
int chain_pad(int device_count);
// plane[i] := bit i % 8 of bytes[i / 8], for nbits bits.
void expand_bits(uint8_t* plane, const uint8_t* bytes, int nbits);
// Data scan without compare: pad zero bits, then the block.
void shift_block(DevAlgModule* module, const uint8_t* block, int bytes, int pad);
// Write steps up to JPROGRAM: checks, chain check, image read; then the cable lock, the
// running flag, "Write start" and JPROGRAM. Answers 1 with the image in state.image (length
// bytes used), or the entry's result without touching the FPGA.
int prepare_write(DevAlgModule* module, DevAlgState** state, int* pad, int* length);
// Streams the image in pieces by run-test in Shift-DR until done or cancelled.
void stream_image(DevAlgModule* module, DevAlgState& state, int length);
// Frees the image, puts the FPGA back in BYPASS, releases the cable lock and gives the result.
int finish_write(DevAlgModule* module, DevAlgState& state);
// The Shutdown entry of both families.
int devalg_shutdown(DevAlgModule* module);
