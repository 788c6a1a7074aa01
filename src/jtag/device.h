// One TAP on a chain: its part, its three scan registers and its per-device operation record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devdb/bsreg.h"
#include "devdb/part.h"
#include "devdb/pins.h"

struct Chain;
struct Device;
struct DevAlgModule;

constexpr int kDeviceMagic = 1003;

// Register kinds the chain shifts.
enum DeviceRegister : int { DEVICE_IR = 1, DEVICE_DR = 2, DEVICE_BYPASS = 3 };

// Per-device operation record ("devopt"): what the boundary-scan operations and the
// device-algorithm binding work in. Rebuilt whenever the part changes.
struct Devopt {
    void* owner_data = nullptr;
    void (*owner_release)(void*) = nullptr;
    DevAlgModule* algorithm = nullptr;
    void (*algorithm_release)(DevAlgModule*) = nullptr;
    uint32_t idcode_read = 0;
    int32_t ir_capture_read = -1;
    uint32_t usercode = 0;
    int flags = 0;
    int bsr_len = 0;
    std::vector<uint8_t> bsr;  // boundary data, one byte per bit
    int update_pending = 1;
    int capture_twice = 1;
    int pin_mode = 0;
    int selected = 0;
    std::string file_path;  // configuration file read by the module's Write entry; "" = none
    int status = 1;
    int strict = 0;
    int reserved[3] = {0, 0, 0};

    Devopt() = default;
    Devopt(const Devopt&) = delete;
    Devopt& operator=(const Devopt&) = delete;
    ~Devopt();
    // Back to the state of a fresh record for the given part (null: no part).
    void reset(const PartRecord* part);
};

struct BsRegFree {
    void operator()(BsReg* reg) const { bsreg_free(reg); }
};
using BsRegPtr = std::unique_ptr<BsReg, BsRegFree>;

struct PartRecordFree {
    void operator()(PartRecord* part) const;
};
using PartRecordPtr = std::unique_ptr<PartRecord, PartRecordFree>;

struct Device {
    int magic = kDeviceMagic;
    std::string name;
    std::string description;
    std::string package;
    std::string reserved_text[2];
    std::string source_path;
    Chain* chain = nullptr;
    PinTablePtr pins;   // pin model, from a description file only (device_load_description)
    int pin_count = 0;  // package pins of the installed description
    BsRegPtr ir;
    BsRegPtr dr;
    BsRegPtr bypass;
    PartRecordPtr part;
    std::unique_ptr<Devopt> devopt;
    void (*on_destroy)(Device*) = nullptr;
};

Device* device_new(const char* device_name, const char* part_name, Chain* chain);
// Deletes the device unless its chain is locked (or missing).
void device_delete(Device* device);
// Releases the device without the lock check; for the chain, which checks its lock itself.
void device_destroy(Device* device);

int device_set_name(Device* device, const char* name);
int device_set_part(Device* device, const char* part_name);
int device_set_idcode(Device* device, uint32_t idcode);
uint32_t device_get_idcode(const Device* device);
int device_set_package(Device* device, const char* package);
// Replaces the device's operation record; the device takes ownership.
int device_set_option(Device* device, Devopt* devopt);
int device_set_instruction(Device* device, const char* instruction);
[[nodiscard]] int device_shift_instruction(Device* device, const char* instruction, int flags,
                                           const char* label);

const char* device_name(const Device* device);
const char* device_description(const Device* device);
const char* device_package(const Device* device);
const char* device_source_path(const Device* device);
PartRecord* device_part(const Device* device);
BsReg* device_get_register(const Device* device, int kind);
Devopt* device_devopt(const Device* device);
PinTable* device_pins(const Device* device);

// Installs a description from a file: "/bb/NAME" reads the database index NAME and its entry of
// that key, any other text is a BSDL file. The device gets the part, its package and a pin table.
// 1 on success; 0 when the chain is locked or no usable description was read (the device keeps
// its part then).
int device_load_description(Device* device, const char* text);

// The database's record of a part, looked up by IDCODE when nonzero, else by name. Never null
// but when memory runs out; a part the database does not hold gives an empty record.
PartRecord* part_lookup(const char* part_name, uint32_t idcode);
void part_free(PartRecord* part);
// Fills the record from a description it takes over; 0 for no description.
int part_fill(PartRecord* part, DeviceDescription* description);
const PartInstruction* part_find_instruction(const PartRecord* part, const char* name,
                                             uint32_t opcode);
