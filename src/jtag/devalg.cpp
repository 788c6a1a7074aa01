#include "jtag/devalg.h"

#include <dlfcn.h>
#include <strings.h>

#include <memory>
#include <new>
#include <vector>

#include "jtag/chain.h"
#include "jtag/devalg_library.h"
#include "jtag/msg.h"
#include "jtag/opflag.h"
#include "jtag/status.h"

namespace {

struct FamilyRule {
    uint32_t mask;
    uint32_t value;
    int type;
};

// First match wins; the version nibble is outside every mask.
constexpr FamilyRule kFamilyRules[] = {
    {0x0FF00FFF, 0x04000093, DEVALG_SPARTAN6},
    {0x0FFFFFFF, 0x03727093, DEVALG_SERIES7},
    {0x0FFFFFFF, 0x03631093, DEVALG_SERIES7},
    {0x0FFFFFFF, 0x03636093, DEVALG_SERIES7},
    {0x0FFFFFFF, 0x0362F093, DEVALG_SERIES7},
    {0x0FFFFFFF, 0x0364C093, DEVALG_SERIES7},
    {0x0FE08000, 0x04808000, 18},
    {0x0FC00FFF, 0x06C00093, 12},
    {0x0FFF0FFF, 0x020A00DD, 13},
    {0x0FFF0FFF, 0x020800DD, 14},
    {0x0FFF0FFF, 0x020B00DD, 15},
    {0x0FFF0FFF, 0x020F00DD, 16},
    {0x0FFF0FFF, 0x027000DD, 16},
    {0x0FFF0FFF, 0x021200DD, 22},
    {0x0000FFFF, 0x000000DD, 21},
    {0x0FFF8FFF, 0x01298043, 17},
    {0x0FFF0FFF, 0x010000DD, 20},
};

struct FamilyTable {
    int type;
    const DevAlgEntry* table;
};

// Module tables by family type; the application registers the built-in ones at start-up.
std::vector<FamilyTable>& family_tables() {
    static std::vector<FamilyTable> tables;
    return tables;
}

const DevAlgEntry* family_table(int type) {
    for (const FamilyTable& family : family_tables()) {
        if (family.type == type) return family.table;
    }
    return nullptr;
}

void unload(DevAlgModule* binding) {
    if (binding->library) dlclose(binding->library);
    binding->library = nullptr;
}

// Failed binding: the record goes, the library is unloaded.
DevAlgModule* refuse(std::unique_ptr<DevAlgModule> binding, const char* message) {
    msg_print("%s\n", message);
    unload(binding.get());
    return nullptr;
}

// Entries whose calls take more than the binding or answer something other than a status;
// devalg_call must not call them through the binding-only signature.
bool needs_own_signature(uint32_t code) {
    return code == DEVALG_OPEN || code == DEVALG_SPI_FILE_NAME || code == DEVALG_SPI_SETUP ||
           code == DEVALG_SPI_TXRX || code == DEVALG_SPI_DESCR;
}

}  // namespace

void devalg_register_family(int type, const DevAlgEntry* table) {
    for (FamilyTable& family : family_tables()) {
        if (family.type == type) {
            family.table = table;
            return;
        }
    }
    family_tables().push_back({type, table});
}

int devalg_family(uint32_t idcode) {
    for (const FamilyRule& rule : kFamilyRules) {
        if ((idcode & rule.mask) == rule.value) return rule.type;
    }
    return 0;
}

DevAlgModule* devalg_bind_device(Chain* chain, int index) {
    const int type = devalg_family(device_get_idcode(chain_get_device(chain, index)));
    return type ? devalg_bind(chain, index, type) : nullptr;
}

namespace {

// Binds a module's table; a library the table came from is the binding's, unloaded with it.
DevAlgModule* bind_table(std::unique_ptr<DevAlgModule> binding, Chain* chain, int index,
                         const DevAlgEntry* table) {
    while (table[binding->count].name) ++binding->count;
    for (int i = 0; i < binding->count; ++i) binding->entries.push_back(&table[i]);
    binding->entries.push_back(nullptr);

    binding->chain = chain;
    binding->index = index;
    binding->device = chain_get_device(chain, index);
    binding->devopt = device_devopt(binding->device);

    const auto version = devalg_entry<DevAlgVersionFn>(binding.get(), DEVALG_VERSION);
    if (!version) {
        return refuse(std::move(binding), "DEVALG has no version info. Please reinstall software.");
    }
    if (static_cast<uint16_t>(version(binding.get())) != kDevAlgVersion) {
        return refuse(std::move(binding), "DEVALG version mismatch! Please reinstall software.");
    }
    if (const auto open = devalg_entry<DevAlgOpenFn>(binding.get(), DEVALG_OPEN)) {
        binding->state = open(binding.get());
        if (!binding->state) msg_print("Some error has occured in initialization of device \n");
    }
    return binding.release();
}

std::unique_ptr<DevAlgModule> new_binding() {
    try {
        return std::make_unique<DevAlgModule>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

DevAlgModule* devalg_bind(Chain* chain, int index, int type) {
    std::unique_ptr<DevAlgModule> binding = new_binding();
    if (!binding) return nullptr;
    const DevAlgEntry* table = family_table(type);
    if (!table) {
        msg_print("No device infomation is found\n");
        devalg_close(binding.release());
        return nullptr;
    }
    return bind_table(std::move(binding), chain, index, table);
}

DevAlgModule* devalg_bind_library(Chain* chain, int index, const char* library) {
    if (!library || !*library) return nullptr;
    std::unique_ptr<DevAlgModule> binding = new_binding();
    if (!binding) return nullptr;
    binding->library = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!binding->library) {
        const char* why = dlerror();
        msg_print("DEVALG library %s cannot be loaded: %s\n", library, why ? why : "");
        return nullptr;
    }
    using Entries = const DevAlgEntry* (*)();
    const auto entries = reinterpret_cast<Entries>(dlsym(binding->library, "_jtag_devalg_entries"));
    const DevAlgEntry* table = entries ? entries() : nullptr;
    if (!table) {
        msg_print("DEVALG library %s has no module table.\n", library);
        unload(binding.get());
        return nullptr;
    }
    return bind_table(std::move(binding), chain, index, table);
}

DevAlgFunction devalg_find(const DevAlgModule* binding, uint32_t code) {
    if (!binding) return nullptr;
    for (const DevAlgEntry* entry : binding->entries) {
        if (!entry || !entry->name) break;
        if (entry->code == code && entry->function) return entry->function;
    }
    return nullptr;
}

DevAlgFunction devalg_find_by_name(const DevAlgModule* binding, const char* name) {
    if (!binding || !name) return nullptr;
    for (const DevAlgEntry* entry : binding->entries) {
        if (!entry || !entry->name) break;
        if (entry->function && strcasecmp(entry->name, name) == 0) return entry->function;
    }
    return nullptr;
}

int devalg_call(DevAlgModule* binding, uint32_t code) {
    if (!binding || !binding->chain) return JTAG_NULL;
    if (chain_is_locked(binding->chain)) return JTAG_LOCKED;
    ChainLockGuard lock(binding->chain);
    const auto entry =
        needs_own_signature(code) ? nullptr : devalg_entry<DevAlgStatusFn>(binding, code);
    return entry ? entry(binding) : JTAG_UNSUPPORTED;
}

void devalg_close(DevAlgModule* binding) {
    if (!binding) return;
    std::unique_ptr<DevAlgModule> owned(binding);
    if (binding->chain && chain_is_locked(binding->chain)) {
        msg_print("Fatal error: Chain is locked . Do not delete device!\n");
    }
    // The binding owns the module's state; a state still held goes with it.
    if (binding->state) {
        if (const auto close = devalg_entry<DevAlgStatusFn>(binding, DEVALG_CLOSE)) close(binding);
    }
    if (binding->library) {
        using LibraryClose = void (*)(DevAlgModule*);
        if (void* symbol = dlsym(binding->library, "_jtag_devalg_close")) {
            reinterpret_cast<LibraryClose>(symbol)(binding);
        }
        unload(binding);
    }
}

DevAlgModule* jtag_bind_algorithm(Chain* chain, int index) {
    return devalg_bind_device(chain, index);
}
