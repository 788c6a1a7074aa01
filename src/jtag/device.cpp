#include "jtag/device.h"

#include <strings.h>

#include <algorithm>
#include <new>

#include "devdb/bix.h"
#include "devdb/bsdl.h"
#include "devdb/devdesc.h"
#include "devdb/devlist.h"
#include "jtag/chain.h"
#include "jtag/msg.h"
#include "jtag/status.h"

namespace {

bool valid(const Device* device) {
    return device && device->magic == kDeviceMagic;
}

// Devices refuse changes while their chain runs an operation; a missing chain counts as locked.
bool refused(const Device* device, const char* action) {
    if (!chain_is_locked(device->chain)) return false;
    msg_print("Fatal error: Chain is locked . Do not %s!\n", action);
    return true;
}

bool iequals(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

}  // namespace

Devopt::~Devopt() {
    if (owner_release && owner_data) owner_release(owner_data);
    if (algorithm_release && algorithm) algorithm_release(algorithm);
}

void Devopt::reset(const PartRecord* part) {
    if (algorithm_release && algorithm) algorithm_release(algorithm);
    algorithm = nullptr;
    algorithm_release = nullptr;
    idcode_read = 0;
    ir_capture_read = -1;
    usercode = 0;
    flags = 0;
    bsr_len = part ? part->bsr_len : 0;
    bsr.assign(bsr_len > 0 ? bsr_len : 0, 0);
    update_pending = 1;
    capture_twice = 1;
    selected = 0;
    file_path.clear();
    status = JTAG_OK;
    strict = 0;
    reserved[0] = reserved[1] = reserved[2] = 0;
}

void PartRecordFree::operator()(PartRecord* part) const {
    part_free(part);
}

void part_free(PartRecord* part) {
    if (!part) return;
    std::unique_ptr<PartRecord> owned(part);
    devdesc_free(part->description);
}

Device* device_new(const char* device_name, const char* part_name, Chain* chain) {
    std::unique_ptr<Device> device;
    try {
        device = std::make_unique<Device>();
        device->devopt = std::make_unique<Devopt>();
    } catch (const std::bad_alloc&) {
        msg_print("%s:%d:out of memory\n", "device", 64);
        return nullptr;
    }
    if (!chain) msg_print("BUG? null pointer at function:device_new()\n");
    device->chain = chain;
    device->ir.reset(bsreg_new(8));
    device->dr.reset(bsreg_new(32));
    device->bypass.reset(bsreg_new(1));
    if (!device->ir || !device->dr || !device->bypass) return nullptr;
    device_set_name(device.get(), device_name);
    if (!device_set_part(device.get(), part_name)) {
        device_destroy(device.release());
        return nullptr;
    }
    return device.release();
}

void device_destroy(Device* device) {
    if (!valid(device)) return;
    std::unique_ptr<Device> owned(device);
    if (device->on_destroy) device->on_destroy(device);
    device->magic = 0;
}

void device_delete(Device* device) {
    if (!valid(device)) return;
    if (refused(device, "delete device")) return;
    device_destroy(device);
}

int device_set_name(Device* device, const char* name) {
    if (!valid(device)) return 0;
    device->name = name ? name : "noname";
    return 1;
}

int device_set_part(Device* device, const char* part_name) {
    if (!valid(device)) return 0;
    if (refused(device, "change part")) return 0;
    if (!part_name || !*part_name) part_name = "generic";
    PartRecordPtr part(part_lookup(part_name, 0));
    // Only a record built from a database description names a known part.
    const bool known = part && part->description;
    if (part) {
        BsRegPtr ir(bsreg_new(part->ir_length));
        if (!ir) return 0;
        bsreg_load_instruction(ir.get(), part.get(), "BYPASS");
        device->ir = std::move(ir);
        devdesc_free(part->description);
        part->description = nullptr;
    }
    device->part = std::move(part);
    device->source_path.clear();
    device->description = known && !device->part->name.empty()
                              ? device->part->name
                              : "device not found in device database file";
    device->pins.reset();
    device->pin_count = 0;
    device->devopt->reset(device->part.get());
    return 1;
}

int device_set_idcode(Device* device, uint32_t idcode) {
    if (!valid(device) || !device->part) return 0;
    if (refused(device, "change idcode")) return 0;
    device->part->idcode = idcode;
    return 1;
}

uint32_t device_get_idcode(const Device* device) {
    return valid(device) && device->part ? device->part->idcode : 0;
}

int device_set_package(Device* device, const char* package) {
    if (!valid(device)) return 0;
    if (refused(device, "change pkgtype")) return 0;
    device->package = package ? package : "";
    if (device->part) device->part->package = device->package;
    return 1;
}

int device_set_option(Device* device, Devopt* devopt) {
    if (!valid(device)) return 0;
    if (refused(device, "change device option")) return 0;
    device->devopt.reset(devopt);
    return 1;
}

int device_set_instruction(Device* device, const char* instruction) {
    if (!valid(device) || !device->part || !device->ir || !instruction) return JTAG_NULL;
    return bsreg_load_instruction(device->ir.get(), device->part.get(), instruction)
               ? JTAG_OK
               : JTAG_UNKNOWN_INSTRUCTION;
}

int device_shift_instruction(Device* device, const char* instruction, int flags,
                             const char* label) {
    if (!valid(device) || !device->chain) return JTAG_NULL;
    if (device_set_instruction(device, instruction) != JTAG_OK) {
        msg_print("Internal error:Unknown instruction '%s'\n", instruction ? instruction : "");
        return JTAG_UNKNOWN_INSTRUCTION;
    }
    if (!chain_settings(device->chain)) return JTAG_NULL;
    ChainLabelGuard labelled(device->chain, label);
    ChainFlushGuard flush(device->chain, flags ? 1 : 0);
    return chain_shift(device->chain, DEVICE_IR, flags);
}

const char* device_name(const Device* device) {
    return valid(device) ? device->name.c_str() : "";
}
const char* device_description(const Device* device) {
    return valid(device) ? device->description.c_str() : "";
}
const char* device_package(const Device* device) {
    return valid(device) ? device->package.c_str() : "";
}
const char* device_source_path(const Device* device) {
    return valid(device) ? device->source_path.c_str() : "";
}
PartRecord* device_part(const Device* device) {
    return valid(device) ? device->part.get() : nullptr;
}
BsReg* device_get_register(const Device* device, int kind) {
    if (!valid(device)) return nullptr;
    switch (kind) {
        case DEVICE_IR:
            return device->ir.get();
        case DEVICE_DR:
            return device->dr.get();
        case DEVICE_BYPASS:
            return device->bypass.get();
        default:
            return nullptr;
    }
}
Devopt* device_devopt(const Device* device) {
    return valid(device) ? device->devopt.get() : nullptr;
}
PinTable* device_pins(const Device* device) {
    return valid(device) ? device->pins.get() : nullptr;
}

namespace {

// The description a "/bb/NAME" text or a BSDL path names; null when none can be read.
DeviceDescription* read_description(const char* text) {
    if (strncasecmp(text, "/bb/", 4) != 0) return bsdl_read(text);
    const char* name = text + 4;
    DeviceDatabase* db = bix_database();
    // An index that does not load leaves the shared database as it was.
    if (!bix_load(db, name)) return nullptr;
    return bix_read_device(db, name, nullptr);
}

}  // namespace

int device_load_description(Device* device, const char* text) {
    if (!valid(device) || !text) return 0;
    if (refused(device, "change device")) return 0;
    if (device->part) {
        devdesc_free(device->part->description);
        device->part->description = nullptr;
    }
    device->source_path = text;
    std::unique_ptr<DeviceDescription> description(read_description(text));
    if (!description) return 0;
    // The registers are built from these lengths: a description that gives none usable is
    // refused before the device changes.
    if (description->ir_length < 1 || description->ir_length > 32) {
        msg_print("%s: instruction register length %d is not usable.\n", text,
                  description->ir_length);
        return 0;
    }
    PinTablePtr pins(pintable_build(description.get()));
    PartRecordPtr part(new (std::nothrow) PartRecord);
    BsRegPtr ir(bsreg_new(description->ir_length));
    BsRegPtr dr(bsreg_new(1));
    if (!pins || !part || !ir || !dr) return 0;
    const std::string package = description->package;
    part_fill(part.get(), description.release());
    bsreg_load_instruction(ir.get(), part.get(), "BYPASS");

    PackageClass package_class = package_classify(package.c_str());
    if (package_class.name == "UNKNOWN") package_class = package_classify(part->name.c_str());
    device->description = part->name;
    device->part = std::move(part);
    device->pin_count = package_class.pins;
    device_set_package(device, package.c_str());
    device->pins = std::move(pins);
    device->ir = std::move(ir);
    device->dr = std::move(dr);
    // The operations size the boundary data from the record: it follows the new part.
    Devopt* devopt = device->devopt.get();
    if (devopt) {
        devopt->bsr_len = device->part->bsr_len;
        devopt->bsr.assign(static_cast<size_t>(std::max(devopt->bsr_len, 0)), 0);
        devopt->flags = 0;
    }
    return 1;
}

PartRecord* part_lookup(const char* part_name, uint32_t idcode) {
    std::unique_ptr<PartRecord> part;
    try {
        part = std::make_unique<PartRecord>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    DeviceDatabase* db = bix_database();
    DeviceList* found = idcode ? bix_find_idcode(db, idcode, 0x0FFFFFFF, nullptr)
                               : bix_find_name(db, part_name ? part_name : "", nullptr);
    const bool known = devlist_count(found) > 0;
    if (known) part_fill(part.get(), bix_read_device(db, devlist_key(found, 0), nullptr));
    devlist_free(found);
    if (!known) {
        part->name = part_name ? part_name : "";
        if (!part->name.empty() && !iequals(part->name, "generic")) {
            msg_print("warning:device '%s' not found in device database\n", part->name.c_str());
        }
    }
    return part.release();
}

int part_fill(PartRecord* part, DeviceDescription* description) {
    if (!part) {
        devdesc_free(description);
        return 0;
    }
    devdesc_free(part->description);
    *part = PartRecord{};
    if (!description) return 0;
    part->description = description;
    part->name = description->name;
    part->package = description->package;
    part->idcode = description->idcode;
    part->idcode_mask = description->idcode_mask;
    part->ir_length = description->ir_length;
    part->bsr_len = static_cast<int>(description->cells.size());
    part->ir_capture_value = bits_value(description->ir_capture.c_str());
    part->ir_capture_mask = bits_mask(description->ir_capture.c_str());
    for (const InstructionDef& ins : description->instructions) {
        part->instructions.push_back(
            {ins.name, bits_value(ins.opcode.c_str()), bits_mask(ins.opcode.c_str())});
    }
    return 1;
}

const PartInstruction* part_find_instruction(const PartRecord* part, const char* name,
                                             uint32_t opcode) {
    if (!part) return nullptr;
    for (const PartInstruction& ins : part->instructions) {
        if (name ? iequals(ins.name, name) : ins.value == opcode) return &ins;
    }
    return nullptr;
}
