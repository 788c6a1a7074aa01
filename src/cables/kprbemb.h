// kprbemb: the cable driver of the maker's USB 2.0 JTAG cables and of the JTAG interface built
// into its USB 2.0 boards. TAP moves, shifts and waits become cable commands, batched in a
// 32768-byte queue and sent through the device-object layer (devobj.h). The product string
// chooses one of two command sets: protocol 1 ("KeenProbe", boards with firmware 1.0) packs TDI
// eight bits to a byte; protocol 2 ("KeenProbeC", "KV3301", boards with firmware 1.2 and later)
// sends one byte per TCK.
#pragma once

#include <cstdint>

#include "cables/cable.h"

// The driver table cable_new fills for the name "kprbemb".
const CableDriver* kprbemb_driver();

void* kprbemb_open(Cable* cable, const char* param);
int kprbemb_init(Cable* cable);
int kprbemb_close(Cable* cable);
int kprbemb_tap_goto(Cable* cable, unsigned target, int flush);
int kprbemb_shift_inout(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                        const uint8_t* tdo, const uint8_t* tdomask, uint8_t* capture, int kind,
                        int nocap, int reserved, const char* label, int flush);
int kprbemb_runtest(Cable* cable, unsigned state, int64_t usec, int64_t clocks, int reserved,
                    const char* label, int flush, const uint8_t* tdi, uint8_t* tdo);
// Codes 0, 3, 5, 9, 10, 11 (drawing), 14 (pin record), 15 (drive pin), 16 (alive), 17
// (description), 161; any other code answers 17.
int kprbemb_option(Cable* cable, int code, const void* in, int reserved, void* out, int count,
                   int* outcount);
