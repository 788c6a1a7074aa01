/* libvireo_skprb.so: the cable driver of the maker's USB 3.0 boards (FX3 with the JTAG firmware)
 * for other hosts, C and C++ alike. The eight skprb_* functions are the library's whole
 * interface; load them with dlopen/dlsym or link with -lvireo_skprb.
 *
 * Bit arrays hold one byte per bit (nonzero = 1), index 0 shifted first. Results are statuses:
 * 1 done, 0 failure (path too long, bad arguments, hardware error), 8 out of memory, 17 option
 * not supported, 21 cable gone. On a record without a driver state (never opened, or closed)
 * init, close and tap_goto answer 2, shift_inout, runtest and option 0. */
#ifndef VIREOJTAG_SKPRB_H
#define VIREOJTAG_SKPRB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The host's record of one cable, owned by the host; one skprb_open per record until its
 * skprb_close. The driver reads and writes only these two fields:
 *   state  its private record: set by a successful skprb_open, cleared by skprb_close (and left
 *          null by a failed open, which releases everything itself);
 *   alive  1 from skprb_open on; 0 once the board is found gone, after which every shift
 *          answers 21. */
typedef struct SkprbCable {
    void* state;
    int alive;
} SkprbCable;

/* The pin record of options 14 (query: in is an int index) and 15 (drive: in is the record;
 * state 1 or 3 drives the named user pin P0..P3 high, 0 or 2 low, 8 or 9 releases it). */
typedef struct SkprbPin {
    int kind;
    int state;
    char name[20];
} SkprbPin;

/* The constant description of the cable. */
typedef struct SkprbCableInfo {
    uint16_t interface_version; /* 0xC199 */
    uint16_t driver_version;    /* 0x0110 */
    const char* long_name;
    const char* short_name;
    const char* description;
    int32_t values[6];
} SkprbCableInfo;

/* TAP states for tap_goto and runtest; SKPRB_TAP_UNKNOWN in runtest means "stay". */
enum {
    SKPRB_TAP_TEST_LOGIC_RESET = 0,
    SKPRB_TAP_RUNTEST_IDLE = 1,
    SKPRB_TAP_SHIFT_DR = 4,
    SKPRB_TAP_EXIT1_DR = 5,
    SKPRB_TAP_SHIFT_IR = 11,
    SKPRB_TAP_EXIT1_IR = 12,
    SKPRB_TAP_UNKNOWN = 16
};

/* Option codes: 0 nothing; 11 the connector's drawing (out: const char *const **, a null-ended
 * list of lines); 14/15 pins (SkprbPin); 16 is the board still there (21 and alive 0 if not);
 * 17 the board's description (out: const char **). Any other code answers 17. */
enum {
    SKPRB_OPT_NONE = 0,
    SKPRB_OPT_DRAWING = 11,
    SKPRB_OPT_PIN_INFO = 14,
    SKPRB_OPT_PIN_DRIVE = 15,
    SKPRB_OPT_ALIVE = 16,
    SKPRB_OPT_DESCRIPTION = 17
};

const SkprbCableInfo* skprb_get_cableinfo(void);
/* Finds and opens the board: the driver's record (also stored in cable->state), or null when
 * no supported board answers. */
void* skprb_open(SkprbCable* cable, const char* parameter);
/* JTAG mode on, firmware and link speed read: 1, or 0 when the firmware answers wrongly. */
int skprb_init(SkprbCable* cable);
/* JTAG mode off, the board released, cable->state cleared. */
int skprb_close(SkprbCable* cable);
/* Walks the TAP to target (at most 20 steps, else 0); flush sends the steps at once. */
int skprb_tap_goto(SkprbCable* cable, unsigned target, int flush);
/* Shifts count bits in SHIFT_IR (kind 1) or SHIFT_DR (kind 2), the last one leaving the shift
 * state. TDI bit i is tdi[i] && tdimask[i]. Unless nocap has bit 0 or 1 set, TDO is read into
 * capture. tdo, tdomask, reserved and label are not used. */
int skprb_shift_inout(SkprbCable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                      const uint8_t* tdo, const uint8_t* tdomask, uint8_t* capture, int kind,
                      int nocap, int reserved, const char* label, int flush);
/* usec nonzero: waits that long and does nothing else. Otherwise walks to state (unless
 * SKPRB_TAP_UNKNOWN) and gives clocks TCK cycles with TDI from tdi (0 when null) and TDO into
 * tdo when given. */
int skprb_runtest(SkprbCable* cable, unsigned state, int64_t usec, int64_t clocks, int reserved,
                  const char* label, int flush, const uint8_t* tdi, uint8_t* tdo);
int skprb_option(SkprbCable* cable, int code, const void* in, int reserved, void* out, int count,
                 int* outcount);

#ifdef __cplusplus
}
#endif

#endif /* VIREOJTAG_SKPRB_H */
