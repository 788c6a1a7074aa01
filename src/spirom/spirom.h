// The SPI configuration flash behind the FPGA: a context opened through the device-algorithm
// module's SPI bridge (the bridge bitstream is loaded when the FPGA does not run it), the flash
// identified by its JEDEC id and sized from the part table, and the two inspection dumps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jtag/devalg.h"

struct SpiRomContext {
    DevAlgModule* module = nullptr;
    DevAlgTxrxFn txrx = nullptr;
    int page_size = 0;
    int page_count = 0;
    int status = 0;  // the status byte read at identification
    uint32_t jedec = 0;
    int address_shift = 0;
    std::string name;
    uint8_t trim_header = 0;
    int maker = 0;  // SpiRomMaker
};

// Option bits of spirom_open.
enum SpiRomOption : int {
    SPIROM_OPT_SETUP = 1 << 0,  // handed to SpiSetup
    SPIROM_OPT_TRIM = 1 << 2,   // strip the header of .bit files before programming or verifying
};

// Opens the flash behind the module's FPGA; bridge_path empty means the bridge beside the
// executable. Null (with a log line) when the module lacks its SPI entries, the bridge file is
// missing or does not configure. The caller owns the context (spirom_close).
SpiRomContext* spirom_open(DevAlgModule* module, const char* bridge_path, int options);
void spirom_close(SpiRomContext* context);
// Loads the bridge when `load` is 1, then runs SpiSetup. 1 done, 0 failed.
int spirom_load_bridge(DevAlgModule* module, int load, const char* bridge_path, int options);

// The identification dump and the security-code / unique-ID dump, to the log; the bytes shown
// also into `bytes` when given (the six of the 0x9F answer; the code or ID, none for a part
// without one).
void spirom_show_id(SpiRomContext* context, std::vector<uint8_t>* bytes = nullptr);
void spirom_show_unique_id(SpiRomContext* context, std::vector<uint8_t>* bytes = nullptr);
// One log line per 16 bytes: address, hex columns, characters.
void hex_dump_log(const uint8_t* bytes, int count, uint32_t base);

// One transaction through the bridge: `write` command bytes, then `read` bytes received while
// `fill` bytes are clocked out (zeros; verify clocks 0xEE). `send` holds at least write bytes.
// 1 done, else the module's status.
int spirom_txrx(const SpiRomContext* context, const uint8_t* send, int write, uint8_t* receive,
                int read, uint8_t fill = 0x00);
