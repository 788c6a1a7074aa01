// Device-algorithm modules: tables of named entries that configure one FPGA family, chosen by
// IDCODE and bound to one device of a chain. The built-in Spartan-6 and 7-series tables live
// in src/devalg; a module may also come from a separately loaded library.
#pragma once

#include <cstdint>
#include <vector>

struct Chain;
struct Device;
struct Devopt;
struct DevAlgModule;

// Entries are stored under one generic pointer type and called through their own signature.
using DevAlgFunction = void (*)();

struct DevAlgEntry {
    const char* name;  // "" for version, open and close; null ends a table
    DevAlgFunction function;
    uint32_t code;
};

enum DevAlgCode : uint32_t {
    DEVALG_WRITE = 0x00000001,
    DEVALG_SHUTDOWN = 0x00000003,
    DEVALG_CANCEL = 0x0000000F,
    DEVALG_SPI_FILE_NAME = 0x10000100,
    DEVALG_SPI_SETUP = 0x10000101,
    DEVALG_SPI_TXRX = 0x10000102,
    DEVALG_SPI_DESCR = 0x10000103,
    DEVALG_VERSION = 0xF0000000,
    DEVALG_OPEN = 0xF0000001,
    DEVALG_CLOSE = 0xF0000002,
};

// Family types of the IDCODE rules; only these two have a module.
enum DevAlgFamily : int { DEVALG_SPARTAN6 = 19, DEVALG_SERIES7 = 23 };

constexpr uint16_t kDevAlgVersion = 0xC199;

// Signatures of the entries.
using DevAlgVersionFn = int (*)(DevAlgModule*);
using DevAlgOpenFn = void* (*)(DevAlgModule*);
using DevAlgStatusFn = int (*)(DevAlgModule*);  // close, Write, Shutdown, Cancel
using DevAlgNameFn = const char* (*)(DevAlgModule*);
using DevAlgSetupFn = int (*)(DevAlgModule*, int option);
using DevAlgTxrxFn = int (*)(DevAlgModule*, const uint8_t* send, uint8_t* receive, int write_count,
                             int read_count, int write_only);
// The last argument of SpiTxrx.
enum SpiTxrxMode : int {
    SPI_TXRX_WAIT = 0,        // the received bytes are in place when the call returns
    SPI_TXRX_WRITE_ONLY = 1,  // nothing is received; the transaction goes out queued
    // The received bytes arrive later, by the time a waiting or collecting call returns; the
    // receive buffer must stay valid until then. Cables that cannot keep captures on their way
    // deliver them at once.
    SPI_TXRX_DEFERRED = 2,
    SPI_TXRX_COLLECT = 3,  // sends nothing: the deferred transactions' bytes into their buffers
    // As SPI_TXRX_WRITE_ONLY, then the scan runs on for read_count more TCK cycles with the flash
    // deselected: an idle time after a command that takes no transaction of its own.
    SPI_TXRX_WRITE_THEN_IDLE = 4,
};
using DevAlgDescrFn = int (*)(DevAlgModule*, int count, uint8_t* buffer);

// One binding of a module to one device. Owned by the device's devopt, which releases it with
// devalg_close.
struct DevAlgModule {
    void* library = nullptr;                  // separately loaded module; null when built in
    std::vector<const DevAlgEntry*> entries;  // count entries, then null
    int count = 0;
    void* state = nullptr;  // the module's private state (open .. close)
    int reserved[5] = {0, 0, 0, 0, 0};
    Chain* chain = nullptr;
    int index = 0;
    Device* device = nullptr;
    Devopt* devopt = nullptr;
};

// Makes a module table the one of a family type (replacing an earlier one). The core knows no
// module of its own: the application registers the built-in families at start-up.
void devalg_register_family(int type, const DevAlgEntry* table);
// Family type of an IDCODE by the rule table, 0 when no rule matches.
int devalg_family(uint32_t idcode);
// Binds the module of the device at index by its IDCODE; null (silently) when no rule matches.
DevAlgModule* devalg_bind_device(Chain* chain, int index);
// Binds the module of a family type: version check and the module's open entry.
DevAlgModule* devalg_bind(Chain* chain, int index, int type);
DevAlgFunction devalg_find(const DevAlgModule* binding, uint32_t code);
DevAlgFunction devalg_find_by_name(const DevAlgModule* binding, const char* name);
// Calls an entry that takes only the binding (Write, Shutdown, Cancel, ...) under the chain
// lock: 2 without binding or chain, 18 when locked, 17 without such an entry.
[[nodiscard]] int devalg_call(DevAlgModule* binding, uint32_t code);
// Releases a binding, together with any module state still held. Null is ignored.
void devalg_close(DevAlgModule* binding);

// An entry by code, cast to its signature; null when absent.
template <class Fn>
Fn devalg_entry(const DevAlgModule* binding, uint32_t code) {
    return reinterpret_cast<Fn>(devalg_find(binding, code));
}
