// skprb: the cable driver of the maker's USB 3.0 boards (FX3 with the JTAG firmware). Turns the
// seven driver slots into "TK" command packets sent through the FX3 component. The entry points
// have C linkage so other hosts can load them from libvireo_skprb.so.
#pragma once

#include <cstdint>

#include "cables/cable.h"

extern "C" {

// The constant description of the cable handed to other hosts.
struct SkprbCableInfo {
    uint16_t interface_version;  // 0xC199
    uint16_t driver_version;     // 0x0110
    const char* long_name;
    const char* short_name;
    const char* description;
    int32_t values[6];
};

const SkprbCableInfo* skprb_get_cableinfo(void);
void* skprb_open(Cable* cable, const char* parameter);
int skprb_init(Cable* cable);
int skprb_close(Cable* cable);
int skprb_tap_goto(Cable* cable, unsigned target, int flush);
int skprb_shift_inout(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                      const uint8_t* tdo, const uint8_t* tdomask, uint8_t* capture, int kind,
                      int nocap, int reserved, const char* label, int flush);
int skprb_runtest(Cable* cable, unsigned state, int64_t usec, int64_t clocks, int reserved,
                  const char* label, int flush, const uint8_t* tdi, uint8_t* tdo);
int skprb_option(Cable* cable, int code, const void* in, int reserved, void* out, int count,
                 int* outcount);
}

// The driver table the cable layer fills for the name "skprb".
const CableDriver* skprb_driver();
