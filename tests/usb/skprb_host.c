/* A C host of libvireo_skprb.so: loads the library with dlopen and drives a board through the
 * skprb_* entry points with its own C record of the cable, as another program would.
 *
 *   skprb_host LIBRARY board   open, init, read the IDCODE after a TAP reset (printed as
 *                              "idcode=XXXXXXXX"), clock in Run-Test/Idle, options, close
 *   skprb_host LIBRARY gone    the board leaves after init: the shift answers 21, the host's
 *                              record reads alive 0, close still releases the record
 *
 * Exit 0 when every step answered as expected; each unexpected answer is named on stderr. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "vireojtag/skprb.h"

static int failures;

static void expect(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    }
}

struct Entries {
    const SkprbCableInfo* (*info)(void);
    void* (*open)(SkprbCable*, const char*);
    int (*init)(SkprbCable*);
    int (*close)(SkprbCable*);
    int (*tap_goto)(SkprbCable*, unsigned, int);
    int (*shift)(SkprbCable*, int, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                 uint8_t*, int, int, int, const char*, int);
    int (*runtest)(SkprbCable*, unsigned, int64_t, int64_t, int, const char*, int, const uint8_t*,
                   uint8_t*);
    int (*option)(SkprbCable*, int, const void*, int, void*, int, int*);
};

static int load(void* library, struct Entries* e) {
    /* POSIX lets a data pointer from dlsym become a function pointer through memcpy. */
    static const char* const names[] = {
        "skprb_get_cableinfo", "skprb_open",        "skprb_init",    "skprb_close",
        "skprb_tap_goto",      "skprb_shift_inout", "skprb_runtest", "skprb_option"};
    void* symbols[8];
    for (int i = 0; i < 8; ++i) {
        symbols[i] = dlsym(library, names[i]);
        if (!symbols[i]) {
            fprintf(stderr, "FAIL: %s missing\n", names[i]);
            return 0;
        }
    }
    memcpy(&e->info, &symbols[0], sizeof symbols[0]);
    memcpy(&e->open, &symbols[1], sizeof symbols[1]);
    memcpy(&e->init, &symbols[2], sizeof symbols[2]);
    memcpy(&e->close, &symbols[3], sizeof symbols[3]);
    memcpy(&e->tap_goto, &symbols[4], sizeof symbols[4]);
    memcpy(&e->shift, &symbols[5], sizeof symbols[5]);
    memcpy(&e->runtest, &symbols[6], sizeof symbols[6]);
    memcpy(&e->option, &symbols[7], sizeof symbols[7]);
    return 1;
}

/* A record without a driver state: nothing reaches the bus, the slots answer "no record". */
static void without_record(const struct Entries* e) {
    SkprbCable none = {NULL, 1};
    uint8_t bits[8] = {0};
    expect(e->open(NULL, "") == NULL, "open without a record");
    expect(e->init(&none) == 2, "init without a driver state answers 2");
    expect(e->tap_goto(&none, SKPRB_TAP_TEST_LOGIC_RESET, 1) == 2, "tap_goto answers 2");
    expect(e->shift(&none, 8, bits, bits, NULL, NULL, bits, 2, 0, 0, "", 1) == 0,
           "shift answers 0");
    expect(e->option(&none, SKPRB_OPT_NONE, NULL, 0, NULL, 0, NULL) == 0, "option answers 0");
    expect(e->close(&none) == 2, "close answers 2");
    expect(e->close(NULL) == 2, "close of no record answers 2");
}

/* Reset, then the 32 bits IDCODE puts in the data register. */
static int read_idcode(const struct Entries* e, SkprbCable* cable, uint32_t* idcode) {
    uint8_t ones[32], capture[32];
    memset(ones, 1, sizeof ones);
    memset(capture, 9, sizeof capture);
    if (e->tap_goto(cable, SKPRB_TAP_TEST_LOGIC_RESET, 1) != 1) return -1;
    if (e->tap_goto(cable, SKPRB_TAP_SHIFT_DR, 0) != 1) return -1;
    const int rc = e->shift(cable, 32, ones, ones, NULL, NULL, capture, 2, 0, 0, "idcode", 1);
    *idcode = 0;
    for (int i = 0; i < 32; ++i) *idcode |= (uint32_t)(capture[i] & 1) << i;
    return rc;
}

static void on_board(const struct Entries* e, SkprbCable* cable) {
    uint32_t idcode = 0;
    expect(read_idcode(e, cable, &idcode) == 1, "IDCODE shift");
    printf("idcode=%08X\n", (unsigned)idcode);
    expect(e->tap_goto(cable, SKPRB_TAP_RUNTEST_IDLE, 1) == 1, "walk to Run-Test/Idle");
    uint8_t tdo[40];
    memset(tdo, 9, sizeof tdo);
    expect(e->runtest(cable, SKPRB_TAP_UNKNOWN, 0, 40, 0, "", 1, NULL, tdo) == 1, "40 clocks");
    int clean = 1;
    for (int i = 0; i < 40; ++i) clean = clean && tdo[i] <= 1;
    expect(clean, "runtest fills TDO with bits");
    expect(e->runtest(cable, SKPRB_TAP_RUNTEST_IDLE, 1000, 0, 0, "", 1, NULL, NULL) == 1,
           "a 1 ms wait");

    const char* text = NULL;
    expect(e->option(cable, SKPRB_OPT_DESCRIPTION, NULL, 0, &text, 0, NULL) == 1 && text &&
               strstr(text, "Norvale Artix-7 Board (") == text,
           "description");
    SkprbPin pin;
    const int vcc = 11, outside = 13;
    expect(e->option(cable, SKPRB_OPT_PIN_INFO, &vcc, 0, &pin, 0, NULL) == 1 && pin.state == 1 &&
               strcmp(pin.name, "VCC") == 0,
           "VCC pin record");
    expect(
        e->option(cable, SKPRB_OPT_PIN_INFO, &outside, 0, &pin, 0, NULL) == 0 && pin.name[0] == 0,
        "no pin 13");
    SkprbPin drive = {0, 1, "P2"};
    const int p2 = 9;
    expect(e->option(cable, SKPRB_OPT_PIN_DRIVE, &drive, 0, NULL, 0, NULL) == 1 &&
               e->option(cable, SKPRB_OPT_PIN_INFO, &p2, 0, &pin, 0, NULL) == 1 && pin.state == 1,
           "P2 driven high");
    expect(e->option(cable, SKPRB_OPT_ALIVE, NULL, 0, NULL, 0, NULL) == 1, "alive check");
    expect(e->option(cable, 9, NULL, 0, NULL, 0, NULL) == 17, "option 9 unsupported");
    expect(cable->alive == 1, "alive stays 1");
}

static void board_leaves(const struct Entries* e, SkprbCable* cable) {
    uint32_t idcode = 0;
    expect(read_idcode(e, cable, &idcode) == 21, "the shift finds the board gone");
    expect(cable->alive == 0, "the host's record reads alive 0");
    uint8_t bits[8] = {0};
    expect(e->shift(cable, 8, bits, bits, NULL, NULL, bits, 2, 0, 0, "", 1) == 21,
           "later shifts answer 21");
    expect(e->option(cable, SKPRB_OPT_ALIVE, NULL, 0, NULL, 0, NULL) == 21, "alive check");
}

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[2], "board") != 0 && strcmp(argv[2], "gone") != 0)) {
        fprintf(stderr, "usage: skprb_host LIBRARY board|gone\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "FAIL: %s\n", dlerror());
        return 1;
    }
    struct Entries e;
    if (!load(library, &e)) return 1;
    expect(e.info()->interface_version == 0xC199, "interface version");
    without_record(&e);

    SkprbCable cable;
    memset(&cable, 0, sizeof cable);
    void* record = e.open(&cable, "");
    expect(record != NULL && record == cable.state && cable.alive == 1, "open finds the board");
    if (!record) return 1;
    expect(e.init(&cable) == 1, "init");
    if (strcmp(argv[2], "board") == 0) {
        on_board(&e, &cable);
    } else {
        board_leaves(&e, &cable);
    }
    expect(e.close(&cable) == 1 && cable.state == NULL, "close releases the record");
    expect(e.close(&cable) == 2, "a second close finds no record");
    dlclose(library);
    return failures ? 1 : 0;
}
