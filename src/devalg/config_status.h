// What a bound FPGA says about its configuration, read over JTAG without changing it: DONE and
// INIT from the instruction capture, and the status and boot-status registers read through
// CFG_IN / CFG_OUT. The Write verdicts of both families and the `vireo status` command use it.
#pragma once

#include <cstdint>

struct DevAlgModule;

enum class FpgaFamily { Spartan6, Series7 };

struct ConfigStatus {
    FpgaFamily family = FpgaFamily::Series7;
    uint32_t ir_capture = 0;  // the FPGA's instruction capture: bit 4 INIT, bit 5 DONE
    uint32_t stat = 0;        // STAT: 32 bits on 7-series, 16 bits on Spartan-6
    uint32_t bootsts = 0;     // BOOTSTS: 32 bits on 7-series, 16 bits on Spartan-6
};

constexpr uint32_t kIrCaptureInit = 1u << 4;
constexpr uint32_t kIrCaptureDone = 1u << 5;

// Reads the instruction capture, STAT and BOOTSTS of the module's FPGA. The reads end with a
// DESYNC, so a configured design keeps running. 1 done; 2 missing records; 21 when the cable
// was lost; 0 when a scan failed on a live cable.
[[nodiscard]] int devalg_read_config_status(DevAlgModule* module, ConfigStatus* out);

// The family of a bound module (from its device table), Series7 when unknown.
FpgaFamily devalg_fpga_family(const DevAlgModule* module);
