#include "jtag/opflag.h"

#include <algorithm>
#include <memory>

#include "cables/cable.h"
#include "devdb/pins.h"
#include "jtag/chain.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "jtag/tap.h"

namespace {

enum class DataRegister { Idcode, Usercode, Boundary, OneBit };

struct Operation {
    int group;
    int bit;
    const char* instruction;
    DataRegister data;
    const char* ir_label;
    int ir_flags;
    bool flush_off;  // the boundary operations batch their transfers
    const char* dr_label;
};

constexpr Operation kIdcode{OPF_GROUP_BASIC, OPF_ID_REGISTER,  "IDCODE", DataRegister::Idcode,
                            "ir capture",    CHAIN_WRITE_BACK, false,    "idcode check"};
constexpr Operation kUsercode{OPF_GROUP_BASIC, OPF_ID_REGISTER,  "USERCODE", DataRegister::Usercode,
                              "ir capture",    CHAIN_WRITE_BACK, false,      "usercode check"};
constexpr Operation kExtest{OPF_GROUP_EXTEST,      OPF_BOUNDARY,  "EXTEST", DataRegister::Boundary,
                            "go into extest mode", CHAIN_COMPARE, true,     nullptr};
constexpr Operation kIntest{OPF_GROUP_INTEST,      OPF_BOUNDARY,  "INTEST", DataRegister::Boundary,
                            "go into intest mode", CHAIN_COMPARE, false,    nullptr};
constexpr Operation kSample{OPF_GROUP_BASIC,       OPF_BOUNDARY,  "SAMPLE", DataRegister::Boundary,
                            "go into extest mode", CHAIN_COMPARE, true,     nullptr};
constexpr Operation kClamp{OPF_BYPASS,   OPF_CLAMP,     "CLAMP", DataRegister::OneBit,
                           "ir capture", CHAIN_COMPARE, false,   nullptr};
constexpr Operation kHighz{OPF_BYPASS,   OPF_HIGHZ,     "HIGHZ", DataRegister::OneBit,
                           "ir capture", CHAIN_COMPARE, false,   nullptr};
constexpr Operation kBypass{OPF_GROUP_BASIC, OPF_BYPASS,    "BYPASS", DataRegister::OneBit,
                            "ir capture",    CHAIN_COMPARE, false,    nullptr};

bool valid(const Chain* chain) {
    return chain && chain->magic == kChainMagic;
}

template <typename F>
void for_each_device(Chain* chain, F&& f) {
    for (int i = 0; i < chain_count(chain); ++i) {
        Device* device = chain_get_device(chain, i);
        if (Devopt* devopt = device_devopt(device)) f(device, *devopt);
    }
}

template <typename F>
void for_each_selected(Chain* chain, F&& f) {
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        if (devopt.selected) f(device, devopt);
    });
}

// A failed shift on a cable that has gone is reported as the lost cable, whatever step failed.
int shift_failure(const Chain* chain, int status) {
    return cable_alive(chain_get_cable(chain)) ? status : JTAG_DISCONNECTED;
}

// Stores a failure in the last device's record, where the error report shows it.
int fail(Chain* chain, int status) {
    if (Devopt* devopt = device_devopt(chain_get_device(chain, chain_count(chain) - 1))) {
        devopt->status = status;
    }
    return status;
}

uint32_t captured(const BsReg* reg, int bits = 32) {
    uint32_t value = 0;
    bsreg_get(reg, BSREG_TDOCAPTURE, 0, std::min(bits, bsreg_length(reg)), &value);
    return value;
}

// Fills the boundary register's TDI from the record's boundary data.
void load_boundary(BsReg* dr, const Devopt& devopt) {
    if (devopt.bsr_len >= bsreg_length(dr)) {
        bsreg_write(dr, BSREG_TDI, 0, bsreg_length(dr), devopt.bsr.data());
    } else {
        msg_print("devopt->bsr_len is too short!!\n");
    }
}

// Copies the captured boundary bits back into the record; false when the record is too short.
bool store_boundary(const BsReg* dr, Devopt& devopt) {
    if (devopt.bsr_len < bsreg_length(dr)) {
        msg_print("devopt->bsr_len is too short!!\n");
        return false;
    }
    bsreg_read(dr, BSREG_TDOCAPTURE, 0, bsreg_length(dr), devopt.bsr.data());
    return true;
}

// A device with a pin model gets every pin's wanted state written over its boundary data. In
// EXTEST and INTEST that is what the pins drive; in SAMPLE it is the preload, so that the update
// latches already hold it (released pins released) when EXTEST takes the pins over.
void apply_pins(Device* device) {
    pintable_apply(device_pins(device), device_get_register(device, DEVICE_DR));
}

// The pin model of a device takes the boundary bits just captured.
void update_pins(Device* device) {
    pintable_update(device_pins(device), device_get_register(device, DEVICE_DR), 1);
}

void prepare_data_register(Device* device, Devopt& devopt, DataRegister kind) {
    BsReg* dr = device_get_register(device, DEVICE_DR);
    const PartRecord* part = device_part(device);
    switch (kind) {
        case DataRegister::Idcode:
            bsreg_resize(dr, 32);
            bsreg_set(dr, BSREG_TDO, part ? part->idcode : 0, 0, 32);
            break;
        case DataRegister::Usercode:
            bsreg_resize(dr, 32);
            bsreg_set(dr, BSREG_TDO, devopt.usercode, 0, 32);
            break;
        case DataRegister::Boundary:
            bsreg_resize(dr, part ? part->bsr_len : 1);
            load_boundary(dr, devopt);
            apply_pins(device);
            break;
        case DataRegister::OneBit:
            bsreg_resize(dr, 1);
            break;
    }
}

int shift_labelled(Chain* chain, int kind, int flags, const char* label) {
    ChainLabelGuard labelled(chain, label);
    return chain_shift(chain, kind, flags);
}

int run_operation(Chain* chain, const Operation& op) {
    if (!valid(chain)) return JTAG_NULL;
    if (chain_is_locked(chain)) return JTAG_LOCKED;
    ChainLockGuard lock(chain);
    ChainFlushGuard flush(chain, op.flush_off ? 0 : chain_settings(chain)->flush);

    int unknown = 0;
    bool capture_twice = false;
    for_each_selected(chain, [&](Device* device, Devopt& devopt) {
        if (unknown) return;
        devopt.flags = op.group;
        pintable_settle(device_pins(device));
        if (device_set_instruction(device, op.instruction) != JTAG_OK) {
            device_set_instruction(device, "BYPASS");
            devopt.flags = OPF_UNKNOWN;
            devopt.status = JTAG_UNKNOWN_INSTRUCTION;
            unknown = 1;
            return;
        }
        devopt.flags |= op.bit;
        prepare_data_register(device, devopt, op.data);
        capture_twice = capture_twice || devopt.capture_twice;
    });
    if (unknown) return JTAG_UNKNOWN_INSTRUCTION;

    const int ir_ok = shift_labelled(chain, DEVICE_IR, op.ir_flags, op.ir_label);
    if (!ir_ok) return fail(chain, shift_failure(chain, JTAG_IR_CAPTURE));

    switch (op.data) {
        case DataRegister::Idcode:
        case DataRegister::Usercode: {
            const int dr_ok = shift_labelled(chain, DEVICE_DR, CHAIN_WRITE_BACK, op.dr_label);
            const bool strict_failure = [&] {
                bool strict = false;
                for_each_selected(chain, [&](Device*, Devopt& d) { strict = strict || d.strict; });
                return strict;
            }();
            if (!dr_ok && (strict_failure || !cable_alive(chain_get_cable(chain)))) {
                return fail(chain, shift_failure(chain, JTAG_IDCODE));
            }
            for_each_selected(chain, [&](Device* device, Devopt& devopt) {
                const uint32_t value = captured(device_get_register(device, DEVICE_DR));
                if (op.data == DataRegister::Idcode)
                    devopt.idcode_read = value;
                else
                    devopt.usercode = value;
                devopt.status = JTAG_OK;
            });
            break;
        }
        case DataRegister::Boundary: {
            int dr_ok = chain_shift(chain, DEVICE_DR, CHAIN_WRITE_BACK);
            if (dr_ok && capture_twice) dr_ok = chain_shift(chain, DEVICE_DR, CHAIN_WRITE_BACK);
            if (!dr_ok) return fail(chain, shift_failure(chain, JTAG_FAIL));
            for_each_selected(chain, [&](Device* device, Devopt& devopt) {
                if (store_boundary(device_get_register(device, DEVICE_DR), devopt))
                    update_pins(device);
                devopt.update_pending = 0;
                devopt.capture_twice = 0;
                devopt.status = JTAG_OK;
            });
            break;
        }
        case DataRegister::OneBit:
            for_each_selected(chain, [&](Device*, Devopt& devopt) { devopt.status = JTAG_OK; });
            break;
    }
    return JTAG_OK;
}

}  // namespace

namespace {

// A chain opened over a named cable owns that cable: closing the chain releases it.
void free_opened_cable(Chain* chain) {
    Cable* cable = chain_get_cable(chain);
    chain->cable = nullptr;
    cable_free(cable);
}

}  // namespace

Chain* jtag_open_chain(const char* cable_name, const char* param) {
    Cable* cable = cable_new("", cable_name, param);
    if (!cable) return nullptr;
    Chain* chain = chain_new("");
    chain_set_cable(chain, cable);
    chain->on_destroy = free_opened_cable;
    return chain;
}

void jtag_close_chain(Chain* chain) {
    if (valid(chain) && !chain_is_locked(chain)) chain_delete(chain);
}

int jtag_check_chain(Chain* chain) {
    if (!valid(chain)) {
        msg_print("Critical error : Chain is NULL.\n");
        return 0;
    }
    if (!chain_get_cable(chain)) {
        msg_print("Select cable before operation.\n");
        return 0;
    }
    if (chain_count(chain) == 0) {
        msg_print("Add device before operation.\n");
        return 0;
    }
    return 1;
}

int jtag_count(Chain* chain) {
    return chain_count(chain);
}

const char* jtag_device_description(Chain* chain, int index) {
    return device_description(chain_get_device(chain, index));
}

void jtag_select(Chain* chain, int index, int value) {
    if (Devopt* devopt = device_devopt(chain_get_device(chain, index))) devopt->selected = value;
}

int jtag_is_selected(Chain* chain, int index) {
    const Devopt* devopt = device_devopt(chain_get_device(chain, index));
    return devopt ? devopt->selected : 0;
}

void jtag_select_all(Chain* chain) {
    for_each_device(chain, [](Device*, Devopt& devopt) { devopt.selected = 1; });
}

void jtag_select_none(Chain* chain) {
    for_each_device(chain, [](Device*, Devopt& devopt) { devopt.selected = 0; });
}

void jtag_cable_lock(Chain* chain, int flag) {
    if (!valid(chain)) return;
    int value = flag ? 1 : 0;
    cable_option(chain_get_cable(chain), CABLE_OPT_LOCK, &value, 0, nullptr, 0, nullptr);
}

int jtag_idcode(Chain* chain) {
    return run_operation(chain, kIdcode);
}
int jtag_usercode(Chain* chain) {
    return run_operation(chain, kUsercode);
}
int jtag_extest(Chain* chain) {
    return run_operation(chain, kExtest);
}
int jtag_intest(Chain* chain) {
    return run_operation(chain, kIntest);
}
int jtag_sample(Chain* chain) {
    return run_operation(chain, kSample);
}
int jtag_clamp(Chain* chain) {
    return run_operation(chain, kClamp);
}
int jtag_highz(Chain* chain) {
    return run_operation(chain, kHighz);
}
int jtag_bypass(Chain* chain) {
    return run_operation(chain, kBypass);
}

int jtag_update_boundary(Chain* chain) {
    if (!valid(chain)) return JTAG_NULL;
    if (chain_is_locked(chain)) return JTAG_LOCKED;
    ChainLockGuard lock(chain);
    ChainSettings* settings = chain_settings(chain);
    bool capture_twice = false;
    for_each_selected(chain, [&](Device* device, Devopt& devopt) {
        if (!(devopt.flags & OPF_BOUNDARY)) return;
        load_boundary(device_get_register(device, DEVICE_DR), devopt);
        apply_pins(device);
        capture_twice = capture_twice || devopt.capture_twice;
    });
    ChainFlushGuard flush(chain, 0);
    int ok;
    if (settings->bulk) {
        ok = chain_shift(chain, DEVICE_DR, CHAIN_WRITE_ONLY);
    } else {
        ok = chain_shift(chain, DEVICE_DR, CHAIN_WRITE_BACK);
        if (ok && capture_twice) ok = chain_shift(chain, DEVICE_DR, CHAIN_WRITE_BACK);
    }
    if (!ok) return shift_failure(chain, JTAG_FAIL);
    // Only a device whose data register holds its boundary register has pins to read back.
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        if (devopt.flags & OPF_BOUNDARY) update_pins(device);
    });
    bool too_short = false;
    for_each_selected(chain, [&](Device* device, Devopt& devopt) {
        if (too_short) return;
        if (!store_boundary(device_get_register(device, DEVICE_DR), devopt)) {
            devopt.update_pending = devopt.status = devopt.capture_twice = 0;
            too_short = true;
            return;
        }
        devopt.update_pending = 0;
        devopt.status = JTAG_OK;
        devopt.capture_twice = 0;
    });
    return too_short ? JTAG_FAIL : JTAG_OK;
}

int jtag_reset(Chain* chain) {
    if (!valid(chain) || !chain_get_cable(chain)) return JTAG_NULL;
    if (chain_is_locked(chain)) return JTAG_LOCKED;
    ChainLockGuard lock(chain);
    Cable* cable = chain_get_cable(chain);
    bool ok = cable_tap_goto(cable, UNKNOWN, 1) == JTAG_OK;
    ok = cable_tap_goto(cable, TEST_LOGIC_RESET, 1) == JTAG_OK && ok;
    if (chain_count(chain) > 0) {
        bsreg_resize(device_get_register(chain_get_device(chain, 0), DEVICE_DR), 100);
        ok = chain_shift(chain, DEVICE_DR, CHAIN_WRITE_ONLY) == JTAG_OK && ok;
        ok = cable_tap_goto(cable, RUNTEST_IDLE, 1) == JTAG_OK && ok;
        for_each_device(chain, [](Device* device, Devopt& devopt) {
            devopt.flags = OPF_ID_REGISTER;
            pintable_settle(device_pins(device));
        });
    }
    return ok ? JTAG_OK : shift_failure(chain, JTAG_FAIL);
}

namespace {

// Loads BYPASS with the part's IR capture as the expected output.
void load_bypass_expecting_capture(Device* device) {
    BsReg* ir = device_get_register(device, DEVICE_IR);
    const PartRecord* part = device_part(device);
    const int length = part ? part->ir_length : 0;
    bsreg_resize(ir, length);
    if (part) bsreg_load_instruction(ir, part, "BYPASS");
    bsreg_set(ir, BSREG_TDO, part ? part->ir_capture_value : 0, 0, length);
    bsreg_set(ir, BSREG_TDOMASK, part ? part->ir_capture_mask : 0, 0, length);
}

// Loads the named instruction with a 32-bit data register, or BYPASS with one unchecked bit
// when the part does not know it. Returns whether the part knew it.
bool load_id_register(Device* device, const char* instruction, uint32_t expected) {
    BsReg* dr = device_get_register(device, DEVICE_DR);
    if (device_set_instruction(device, instruction) == JTAG_OK) {
        bsreg_resize(dr, 32);
        bsreg_set(dr, BSREG_TDO, expected, 0, 32);
        return true;
    }
    device_set_instruction(device, "BYPASS");
    bsreg_resize(dr, 1);
    bsreg_fill(dr, BSREG_TDO, 0, 0, 0);
    bsreg_fill(dr, BSREG_TDOMASK, 0, 0, 0);
    return false;
}

}  // namespace

int jtag_check_devices(Chain* chain) {
    if (!valid(chain)) return JTAG_NULL;
    // Also called by device algorithms under their own lock: the lock nests.
    ChainLockGuard lock(chain);
    ChainSettings* settings = chain_settings(chain);
    for_each_device(chain, [](Device* device, Devopt& devopt) {
        devopt.status = JTAG_OK;
        load_bypass_expecting_capture(device);
    });

    const int bypass_ok = shift_labelled(chain, DEVICE_IR, CHAIN_COMPARE, "bypass");
    if (!bypass_ok) {
        const int status = shift_failure(chain, JTAG_IR_CAPTURE);
        for_each_device(chain, [&](Device* device, Devopt& devopt) {
            devopt.status = status;
            devopt.ir_capture_read =
                static_cast<int32_t>(captured(device_get_register(device, DEVICE_IR), 8));
        });
        int result = status;
        if (settings->check_level > 0 && status != JTAG_DISCONNECTED) {
            Devopt* last = nullptr;
            for_each_device(chain, [&](Device*, Devopt& devopt) { last = &devopt; });
            if (last) last->status = JTAG_OK;
            result = JTAG_OK;
        }
        return result;
    }

    // IDCODE pass: every IDCODE, or none when a part cannot give its own.
    bool complete = true;
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        devopt.flags = OPF_ID_REGISTER;
        const PartRecord* part = device_part(device);
        complete = load_id_register(device, "IDCODE", part ? part->idcode : 0) && complete;
    });
    // Only a cable that shifted counts; a lost one is reported as such below.
    bool shifted = shift_labelled(chain, DEVICE_IR, CHAIN_WRITE_ONLY, "idcode") == JTAG_OK;
    shifted = chain_shift(chain, DEVICE_DR, CHAIN_WRITE_BACK) == JTAG_OK && shifted;
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        devopt.idcode_read =
            complete ? captured(device_get_register(device, DEVICE_DR)) : 0xFFFFFFFF;
    });

    // USERCODE pass.
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        const bool known = load_id_register(device, "USERCODE", 0);
        devopt.flags = known ? OPF_ID_REGISTER : OPF_UNKNOWN;
        BsReg* dr = device_get_register(device, DEVICE_DR);
        bsreg_fill(dr, BSREG_TDO, 0, 0, 0);
        bsreg_fill(dr, BSREG_TDOMASK, 0, 0, 0);
    });
    shifted = shift_labelled(chain, DEVICE_IR, CHAIN_WRITE_ONLY, "usercode") == JTAG_OK && shifted;
    shifted = chain_shift(chain, DEVICE_DR, CHAIN_WRITE_BACK) == JTAG_OK && shifted;
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        devopt.usercode = captured(device_get_register(device, DEVICE_DR));
    });

    // Back to bypass, keeping the IR capture for the verdict.
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        load_bypass_expecting_capture(device);
        BsReg* dr = device_get_register(device, DEVICE_DR);
        bsreg_resize(dr, 1);
        bsreg_fill(dr, BSREG_TDO, 0, 0, 0);
        bsreg_fill(dr, BSREG_TDOMASK, 0, 0, 0);
        devopt.flags = OPF_UNKNOWN;
        pintable_settle(device_pins(device));
    });
    shifted = shift_labelled(chain, DEVICE_IR, CHAIN_WRITE_BACK, "bypass") == JTAG_OK && shifted;
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        devopt.ir_capture_read =
            static_cast<int32_t>(captured(device_get_register(device, DEVICE_IR)));
    });
    if (!shifted && !cable_alive(chain_get_cable(chain))) {
        for_each_device(chain, [](Device*, Devopt& devopt) { devopt.status = JTAG_DISCONNECTED; });
        return JTAG_DISCONNECTED;
    }

    bool failed = false;
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        const PartRecord* part = device_part(device);
        if (!part) return;
        const uint32_t m = part->idcode_mask & 0x0FFFFFFF;
        if ((part->idcode & m) != (devopt.idcode_read & m) && settings->check_level < 2) {
            devopt.status = JTAG_IDCODE;
            failed = true;
        }
        const uint32_t cm = part->ir_capture_mask;
        const uint32_t read = static_cast<uint32_t>(devopt.ir_capture_read);
        if ((part->ir_capture_value & cm) != (read & cm) && settings->check_level < 1) {
            devopt.status = JTAG_IR_CAPTURE;
            failed = true;
        }
    });
    return failed ? 0 : 1;
}

namespace {

// Bit 0 set: the first 1 after the zeros starts the marker.
constexpr uint32_t kBoundaryMarker = 0x9E3779B1;
constexpr int kMarkerBits = 32;

// The status of a failed scan, with its reason.
int scan_failure(Chain* chain, BoundaryMeasure& r, const char* scan) {
    const int status = shift_failure(chain, JTAG_FAIL);
    r.reason = status == JTAG_DISCONNECTED ? "the cable was lost" : std::string(scan) + " failed";
    return status;
}

}  // namespace

// With the other boundary-scan operations: it loads instructions and scans the chain, below the
// pin model whose description it checks.
int jtag_measure_boundary(Chain* chain, int index, BoundaryMeasure* result) {
    BoundaryMeasure scratch;
    BoundaryMeasure& r = result ? *result : scratch;
    r = BoundaryMeasure{};
    Device* target = valid(chain) ? chain_get_device(chain, index) : nullptr;
    if (!target || !chain_get_cable(chain)) {
        r.reason = "no such device on the chain";
        return JTAG_NULL;
    }
    if (chain_is_locked(chain)) {
        r.reason = "the chain is busy";
        return JTAG_LOCKED;
    }
    ChainLockGuard lock(chain);
    ChainFlushGuard flush(chain, 1);

    if (device_set_instruction(target, "SAMPLE") != JTAG_OK &&
        device_set_instruction(target, "PRELOAD") != JTAG_OK) {
        r.reason = "the device has no SAMPLE/PRELOAD instruction";
        return JTAG_UNKNOWN_INSTRUCTION;
    }
    // The data register is the probe's below, not the devices' own: none holds boundary data now.
    for_each_device(chain, [&](Device* device, Devopt& devopt) {
        if (device != target) device_set_instruction(device, "BYPASS");
        devopt.flags = device == target ? OPF_GROUP_BASIC : OPF_GROUP_BASIC | OPF_BYPASS;
    });
    const int ir_ok = shift_labelled(chain, DEVICE_IR, CHAIN_COMPARE, "boundary length");
    if (!ir_ok && chain_settings(chain)->error)
        return scan_failure(chain, r, "the instruction scan");

    // Zeros push out whatever the registers captured, so the first 1 seen after as many clocks
    // as the longest path holds bits is the marker's; it comes out `delay` clocks after it went in.
    const int bypass_bits = chain_count(chain) - 1;
    r.bound = kMaxBoundaryCells + bypass_bits;
    const int zeros = r.bound;
    const int total = zeros + r.bound + kMarkerBits;
    std::unique_ptr<Chain, void (*)(Chain*)> probe(chain_new(""), chain_delete);
    chain_set_cable(probe.get(), chain_get_cable(chain));
    BsReg* dr = chain_add_device(probe.get(), "", "")
                    ? device_get_register(chain_get_device(probe.get(), 0), DEVICE_DR)
                    : nullptr;
    if (!dr || !bsreg_resize(dr, total)) {
        r.reason = "no memory for the scan";
        return JTAG_NO_MEMORY;
    }
    bsreg_set(dr, BSREG_TDI, kBoundaryMarker, zeros, kMarkerBits);
    chain_settings(probe.get())->label = "boundary length";
    const int dr_ok = chain_shift(probe.get(), DEVICE_DR, CHAIN_WRITE_BACK);
    chain_set_cable(probe.get(), nullptr);
    if (!dr_ok) return scan_failure(chain, r, "the data scan");

    const uint8_t* tdo = bsreg_plane_view(dr, BSREG_TDOCAPTURE);
    const uint8_t level = tdo[0] & 1;
    if (std::all_of(tdo, tdo + total, [&](uint8_t bit) { return (bit & 1) == level; })) {
        r.tdo_level = level;
        r.reason = "TDO stayed at " + std::to_string(level) + " for all " + std::to_string(total) +
                   " clocks (a broken chain or a stuck TDO)";
        return JTAG_FAIL;
    }
    if (!ir_ok) {
        r.reason = "the instruction scan did not capture the devices' IR pattern";
        return JTAG_IR_CAPTURE;
    }
    const uint8_t* first =
        std::find_if(tdo + zeros, tdo + total, [](uint8_t bit) { return bit & 1; });
    const int delay = static_cast<int>(first - (tdo + zeros));
    if (delay > r.bound) {
        r.reason = "no marker came back within " + std::to_string(r.bound) + " clocks";
        return JTAG_FAIL;
    }
    uint32_t marker = 0;
    for (int i = 0; i < kMarkerBits; ++i) marker |= static_cast<uint32_t>(first[i] & 1) << i;
    if (marker != kBoundaryMarker) {
        r.reason = "the marker came back changed after " + std::to_string(delay) + " clocks";
        return JTAG_FAIL;
    }
    if (delay <= bypass_bits) {
        r.reason = "the marker came back after " + std::to_string(delay) +
                   " clocks, with no boundary cell in its path";
        return JTAG_FAIL;
    }
    r.length = delay - bypass_bits;
    return JTAG_OK;
}
