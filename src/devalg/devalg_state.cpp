#include "devalg/devalg_state.h"

#include <cstdio>
#include <memory>

#include "jtag/chain.h"
#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/status.h"

namespace {

DevAlgState* state_of(const DevAlgModule* module) {
    return module ? static_cast<DevAlgState*>(module->state) : nullptr;
}

}  // namespace

int devalg_version(DevAlgModule*) {
    return kDevAlgVersion;
}

void* devalg_open_state(DevAlgModule* module, const DevAlgFamilyInfo& family) {
    if (!module || !module->chain || !module->device) return nullptr;
    if (library_version() != kDevAlgVersion) {
        msg_print("DLL version mismatch! Please reinstall software.\n");
        return nullptr;
    }
    const uint32_t idcode = device_get_idcode(module->device);
    if (family.print_idcode) {
        msg_diagnostic("idcode=%x\n", idcode);
    }
    for (size_t i = 0; i < family.part_count; ++i) {
        const DevAlgPart& part = family.parts[i];
        if (part.idcode != (idcode & 0x0FFFFFFF)) continue;
        auto state = std::make_unique<DevAlgState>();
        state->capacity = part.capacity;
        state->image_bytes = family.capacity_in_bits ? part.capacity / 8 : part.capacity;
        state->bridge_name = part.bridge;
        state->family = family.family;
        return state.release();
    }
    msg_print(tr_ja("不明なデバイス\n"));
    return nullptr;
}

int devalg_close_state(DevAlgModule* module) {
    if (!module) return JTAG_NULL;
    std::unique_ptr<DevAlgState> owned(state_of(module));
    module->state = nullptr;
    return JTAG_OK;
}

int devalg_cancel(DevAlgModule* module) {
    if (!module) return JTAG_NULL;
    if (DevAlgState* state = state_of(module)) state->running = 0;
    return JTAG_OK;
}

const char* devalg_spi_file_name(DevAlgModule* module) {
    const DevAlgState* state = state_of(module);
    return state ? state->bridge_name.c_str() : nullptr;
}

DevAlgState* devalg_checked(DevAlgModule* module, int* status) {
    DevAlgState* state = state_of(module);
    if (!state || !module->chain || !module->device || !module->devopt ||
        devalg_position(module) < 0) {
        *status = JTAG_NULL;
        return nullptr;
    }
    if (!module->devopt->selected) {
        *status = JTAG_FAIL;
        return nullptr;
    }
    return state;
}

int devalg_position(const DevAlgModule* module) {
    if (!module) return -1;
    for (int i = 0; i < chain_count(module->chain); ++i) {
        if (chain_get_device(module->chain, i) == module->device) return i;
    }
    return -1;
}

int devalg_store(DevAlgModule* module, int status) {
    if (status != JTAG_FAIL && status != JTAG_NULL && module && module->devopt) {
        module->devopt->status = status;
    }
    return status;
}
