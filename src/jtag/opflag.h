// Standard IEEE 1149.1 operations on the selected devices of a chain, the TAP reset, the
// whole-chain identity check, and opening a chain over a named cable.
#pragma once

#include <string>

struct Chain;
struct DevAlgModule;

// Operation flags left in each device's record by the last operation.
enum OpFlags : int {
    OPF_GROUP_BASIC = 0x1,  // IDCODE, USERCODE, SAMPLE, BYPASS
    OPF_GROUP_EXTEST = 0x2,
    OPF_GROUP_INTEST = 0x4,
    OPF_BOUNDARY = 0x10,     // the data register holds the boundary register
    OPF_ID_REGISTER = 0x20,  // the data register holds IDCODE or USERCODE
    OPF_BYPASS = 0x40,       // BYPASS loaded; also the CLAMP/HIGHZ group value
    OPF_UNKNOWN = 0x41,      // the instruction was unknown and BYPASS was loaded instead
    OPF_CLAMP = 0x100,
    OPF_HIGHZ = 0x200,
};

Chain* jtag_open_chain(const char* cable_name, const char* param);
void jtag_close_chain(Chain* chain);
int jtag_check_chain(Chain* chain);
int jtag_count(Chain* chain);
const char* jtag_device_description(Chain* chain, int index);

void jtag_select(Chain* chain, int index, int value);
int jtag_is_selected(Chain* chain, int index);
void jtag_select_all(Chain* chain);
void jtag_select_none(Chain* chain);
void jtag_cable_lock(Chain* chain, int flag);

[[nodiscard]] int jtag_idcode(Chain* chain);
[[nodiscard]] int jtag_usercode(Chain* chain);
[[nodiscard]] int jtag_extest(Chain* chain);
[[nodiscard]] int jtag_intest(Chain* chain);
[[nodiscard]] int jtag_sample(Chain* chain);
[[nodiscard]] int jtag_clamp(Chain* chain);
[[nodiscard]] int jtag_highz(Chain* chain);
[[nodiscard]] int jtag_bypass(Chain* chain);
[[nodiscard]] int jtag_update_boundary(Chain* chain);
[[nodiscard]] int jtag_reset(Chain* chain);
[[nodiscard]] int jtag_check_devices(Chain* chain);
// Longest boundary register jtag_measure_boundary looks for.
constexpr int kMaxBoundaryCells = 65536;

// What jtag_measure_boundary saw.
struct BoundaryMeasure {
    int length = 0;      // boundary cells of the device; 0 when none were measured
    int bound = 0;       // clocks the marker was waited for, the other devices' BYPASS bits in
    int tdo_level = -1;  // 0 or 1 when TDO never changed during the data scan
    std::string reason;  // why nothing was measured; "" on success
};

// Counts the boundary register of the device at `index` on the wire, whatever its description
// says: SAMPLE/PRELOAD in that device and BYPASS in the others, a run of zeros and a 32-bit marker
// shifted through the data register, the clocks counted until the marker leaves TDO and the other
// devices' BYPASS bits taken off. The pins stay with the design, but the boundary register's
// update latches are left holding zeros: a SAMPLE (which preloads the boundary data) must come
// before EXTEST. JTAG_OK with result->length; otherwise result->reason says why:
// JTAG_UNKNOWN_INSTRUCTION, JTAG_DISCONNECTED, JTAG_IR_CAPTURE, or JTAG_FAIL (a failed scan, TDO
// that never changes, no marker within result->bound clocks, a marker that came back changed).
[[nodiscard]] int jtag_measure_boundary(Chain* chain, int index, BoundaryMeasure* result);
// The device-algorithm module of the device at index (devalg_bind_device).
DevAlgModule* jtag_bind_algorithm(Chain* chain, int index);
