// An opened JTAG cable and the seven-slot driver interface every cable driver implements.
// Bit arrays hold one byte per bit (nonzero = 1), index 0 shifted first.
#pragma once

#include <cstdint>
#include <string>

struct Cable;

struct CableDriver {
    void* reserved = nullptr;  // position 0, unused by the cable layer
    void* (*open)(Cable* cable, const char* param) = nullptr;
    int (*init)(Cable* cable) = nullptr;
    int (*close)(Cable* cable) = nullptr;
    int (*tap_goto)(Cable* cable, unsigned target, int flush) = nullptr;
    int (*shift_inout)(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                       const uint8_t* tdo, const uint8_t* tdomask, uint8_t* capture, int kind,
                       int nocap, int reserved, const char* label, int flush) = nullptr;
    int (*runtest)(Cable* cable, unsigned state, int64_t usec, int64_t clocks, int reserved,
                   const char* label, int flush, const uint8_t* tdi, uint8_t* tdo) = nullptr;
    int (*option)(Cable* cable, int code, const void* in, int reserved, void* out, int count,
                  int* outcount) = nullptr;
};

// Pin record of options 14 and 15.
struct CablePin {
    int kind = 0;
    int state = 0;
    char name[20] = {};
};

// Option codes common to the drivers.
enum CableOption : int {
    CABLE_OPT_NONE = 0,
    CABLE_OPT_LOCK = 9,
    CABLE_OPT_DRAWING = 11,
    CABLE_OPT_PIN_INFO = 14,
    CABLE_OPT_PIN_DRIVE = 15,
    CABLE_OPT_ALIVE = 16,
    CABLE_OPT_DESCRIPTION = 17,
    // Delivers the captures of deferred shifts (kCableDeferCapture) still on their way; drivers
    // that capture every shift at once answer 17 (nothing to deliver).
    CABLE_OPT_COLLECT = 18,
};

// A nocap bit of shift_inout: capture, but the driver may keep the reply on its way and fill
// `capture` later, by the time option 18 or any shift or question whose reply it waits for
// returns. The buffer must stay valid until then. Drivers that do not know the bit capture at
// once (they test nocap & 3 only).
constexpr int kCableDeferCapture = 4;

struct Cable {
    std::string location;
    std::string name;
    std::string param;
    CableDriver driver;
    void* state = nullptr;  // the driver's private record
    int flags = 0;
    void* pins = nullptr;  // pin model of the connector; no driver fills it yet
    int alive = 1;
    void* library = nullptr;
    void (*on_destroy)(Cable*) = nullptr;
};

// Makes a driver table reachable by name for cable_new (replacing an earlier one of that name).
// The cable layer knows no driver of its own: the application registers them at start-up.
void cable_register_driver(const char* name, const CableDriver* (*table)());
// Opens a cable by driver name ("kprbemb", "skprb", any letter case). Null when the name has no
// driver or the driver finds no hardware.
Cable* cable_new(const char* location, const char* name, const char* param);
// The same with an explicit driver table (drivers outside the built-in set, test rigs).
Cable* cable_new_with_driver(const CableDriver& driver, const char* location, const char* name,
                             const char* param);
void cable_free(Cable* cable);
int cable_option(Cable* cable, int code, const void* in, int reserved, void* out, int count,
                 int* outcount);

// Forward to the driver's slots; 2 when the cable or the slot is missing.
[[nodiscard]] int cable_tap_goto(Cable* cable, unsigned target, int flush);
[[nodiscard]] int cable_shift_inout(Cable* cable, int count, const uint8_t* tdi,
                                    const uint8_t* tdimask, const uint8_t* tdo,
                                    const uint8_t* tdomask, uint8_t* capture, int kind, int nocap,
                                    const char* label, int flush);
[[nodiscard]] int cable_runtest(Cable* cable, unsigned state, int64_t usec, int64_t clocks,
                                const char* label, int flush, const uint8_t* tdi, uint8_t* tdo);

const char* cable_location(const Cable* cable);
void cable_set_location(Cable* cable, const char* location);
const char* cable_name(const Cable* cable);
const char* cable_param(const Cable* cable);
int cable_flags(const Cable* cable);
void cable_set_flags(Cable* cable, int flags);
void* cable_pins(const Cable* cable);
void cable_set_pins(Cable* cable, void* pins);
int cable_alive(const Cable* cable);
