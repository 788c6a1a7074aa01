// The private state of the FPGA configuration modules and the entries both families share:
// version, open, close, Cancel, GetSpiFileName, and the argument checks of the other entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devalg/config_status.h"
#include "jtag/devalg.h"

// One row of a module's device table, by IDCODE without the version nibble.
struct DevAlgPart {
    uint32_t idcode;
    const char* bridge;  // SPI bridge bitstream beside the executable
    int capacity;        // image buffer: bits on Spartan-6, bytes on 7-series
};

struct DevAlgState {
    std::vector<uint8_t> image;  // the configuration image, only during Write
    int capacity = 0;            // as in the device table
    int image_bytes = 0;         // size of the image buffer
    int running = 0;             // 1 while Write or Shutdown works; Cancel clears it
    std::string bridge_name;
    FpgaFamily family = FpgaFamily::Series7;
    // A deferred SPI transaction: where its received bytes go once its capture is collected.
    struct DeferredRead {
        uint8_t* receive = nullptr;
        int read_count = 0;
        int64_t first = 0;  // whole-chain capture bit of the first received bit
    };
    std::vector<DeferredRead> deferred_reads;
    // The last collect's reads and captures, kept so that the next one allocates nothing.
    std::vector<DeferredRead> collected_reads;
    std::vector<std::vector<uint8_t>> captures;
    int cached_frame = 0;  // write + read count of the bridge header in place
    int device_count = 0;  // chain geometry recorded by SpiSetup
    int after = 0;
    int index = 0;
};

struct DevAlgFamilyInfo {
    const DevAlgPart* parts;
    size_t part_count;
    bool capacity_in_bits;
    bool print_idcode;  // the 7-series open writes the IDCODE to standard output
    FpgaFamily family;
};

int devalg_version(DevAlgModule* module);
void* devalg_open_state(DevAlgModule* module, const DevAlgFamilyInfo& family);
int devalg_close_state(DevAlgModule* module);
int devalg_cancel(DevAlgModule* module);
const char* devalg_spi_file_name(DevAlgModule* module);

// The state of an entry call whose records are all present and whose device is selected;
// otherwise null with *status 2 (something missing) or 0 (not selected).
DevAlgState* devalg_checked(DevAlgModule* module, int* status);
// The bound device's current position on its chain, -1 when it is no longer there.
int devalg_position(const DevAlgModule* module);
// Leaves a result where the chain's error report finds it (all but 0 and 2).
int devalg_store(DevAlgModule* module, int status);
