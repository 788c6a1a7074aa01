#include "cables/cable.h"

#include <strings.h>

#include <memory>
#include <string>
#include <vector>

#include "jtag/status.h"

namespace {

struct NamedDriver {
    std::string name;
    const CableDriver* (*table)();
};

// Drivers by name, as they registered.
std::vector<NamedDriver>& drivers() {
    static std::vector<NamedDriver> registered;
    return registered;
}

const CableDriver* find_driver(const char* name) {
    for (const NamedDriver& d : drivers()) {
        if (strcasecmp(d.name.c_str(), name) == 0) return d.table();
    }
    return nullptr;
}

const char* or_empty(const char* text) {
    return text ? text : "";
}

}  // namespace

void cable_register_driver(const char* name, const CableDriver* (*table)()) {
    if (!name || !*name || !table) return;
    for (NamedDriver& d : drivers()) {
        if (strcasecmp(d.name.c_str(), name) == 0) {
            d.table = table;
            return;
        }
    }
    drivers().push_back({name, table});
}

Cable* cable_new_with_driver(const CableDriver& driver, const char* location, const char* name,
                             const char* param) {
    auto cable = std::make_unique<Cable>();
    cable->location = or_empty(location);
    cable->name = name ? name : "null cable";
    cable->param = or_empty(param);
    cable->driver = driver;
    if (!cable->driver.open || !cable->driver.open(cable.get(), cable->param.c_str())) {
        cable_free(cable.release());
        return nullptr;
    }
    if (cable->driver.init) cable->driver.init(cable.get());
    if (!cable->state) {
        cable_free(cable.release());
        return nullptr;
    }
    return cable.release();
}

Cable* cable_new(const char* location, const char* name, const char* param) {
    const CableDriver* driver = find_driver(name ? name : "null cable");
    if (!driver) return nullptr;
    return cable_new_with_driver(*driver, location, name, param);
}

void cable_free(Cable* cable) {
    if (!cable) return;
    std::unique_ptr<Cable> owned(cable);
    if (cable->on_destroy) cable->on_destroy(cable);
    if (cable->driver.close) cable->driver.close(cable);
}

int cable_option(Cable* cable, int code, const void* in, int reserved, void* out, int count,
                 int* outcount) {
    if (!cable || !cable->driver.option) return JTAG_NULL;
    return cable->driver.option(cable, code, in, reserved, out, count, outcount);
}

int cable_tap_goto(Cable* cable, unsigned target, int flush) {
    if (!cable || !cable->driver.tap_goto) return JTAG_NULL;
    return cable->driver.tap_goto(cable, target, flush);
}

int cable_shift_inout(Cable* cable, int count, const uint8_t* tdi, const uint8_t* tdimask,
                      const uint8_t* tdo, const uint8_t* tdomask, uint8_t* capture, int kind,
                      int nocap, const char* label, int flush) {
    if (!cable || !cable->driver.shift_inout) return JTAG_NULL;
    return cable->driver.shift_inout(cable, count, tdi, tdimask, tdo, tdomask, capture, kind, nocap,
                                     0, label, flush);
}

int cable_runtest(Cable* cable, unsigned state, int64_t usec, int64_t clocks, const char* label,
                  int flush, const uint8_t* tdi, uint8_t* tdo) {
    if (!cable || !cable->driver.runtest) return JTAG_NULL;
    return cable->driver.runtest(cable, state, usec, clocks, 0, label, flush, tdi, tdo);
}

const char* cable_location(const Cable* cable) {
    return cable ? cable->location.c_str() : "";
}
void cable_set_location(Cable* cable, const char* location) {
    if (cable) cable->location = or_empty(location);
}
const char* cable_name(const Cable* cable) {
    return cable ? cable->name.c_str() : "";
}
const char* cable_param(const Cable* cable) {
    return cable ? cable->param.c_str() : "";
}
int cable_flags(const Cable* cable) {
    return cable ? cable->flags : 0;
}
void cable_set_flags(Cable* cable, int flags) {
    if (cable) cable->flags = flags;
}
void* cable_pins(const Cable* cable) {
    return cable ? cable->pins : nullptr;
}
void cable_set_pins(Cable* cable, void* pins) {
    if (cable) cable->pins = pins;
}
int cable_alive(const Cable* cable) {
    return cable ? cable->alive : 0;
}
