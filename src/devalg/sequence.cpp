#include "devalg/sequence.h"

#include <strings.h>

#include <algorithm>
#include <new>
#include <string>

#include "formats/bitfile.h"
#include "jtag/chain.h"
#include "jtag/msg.h"
#include "jtag/opflag.h"
#include "jtag/status.h"
#include "jtag/tap.h"

namespace {

constexpr int kInfoSize = 100;

BsReg* data_register(const DevAlgModule* module) {
    return device_get_register(module->device, DEVICE_DR);
}

// The image length read from the devopt's file, 0 when it was refused or unreadable.
int read_image(DevAlgModule* module, DevAlgState& state, bool* refused) {
    const std::string& path = module->devopt->file_path;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return 0;
    if (strcasecmp(path.c_str() + dot, ".bit") != 0) {
        msg_print("Not bitstream file.\n");
        *refused = true;
        return 0;
    }
    int length = 0;
    char info[kInfoSize] = {};
    if (bitfile_read(path.c_str(), state.image.data(), state.image_bytes, 0, &length, info,
                     kInfoSize) != JTAG_OK) {
        length = 0;
    }
    report_status(info);
    return length;
}

// The identity check takes and drops the chain lock itself; a lock the caller holds
// (devalg_call) must outlive it, or the chain could change under the running sequence.
bool check_chain(Chain* chain) {
    const bool held = chain_is_locked(chain);
    const int ok = jtag_check_devices(chain);
    if (held) chain_lock(chain);
    return ok == JTAG_OK;
}

}  // namespace

void load_instruction(DevAlgModule* module, const char* code, const char* label, int flags) {
    device_shift_instruction(module->device, code, flags, label);
}

int chain_pad(int device_count) {
    return (32 - ((device_count - 1) % 32)) % 32;
}

void expand_bits(uint8_t* plane, const uint8_t* bytes, int nbits) {
    for (int i = 0; i < nbits; ++i) plane[i] = (bytes[i / 8] >> (i % 8)) & 1;
}

void shift_block(DevAlgModule* module, const uint8_t* block, int bytes, int pad) {
    BsReg* dr = data_register(module);
    bsreg_resize(dr, pad + 8 * bytes);
    bsreg_fill(dr, BSREG_TDI, 0, 0, 0);
    expand_bits(bsreg_plane(dr, BSREG_TDI) + pad, block, 8 * bytes);
    bsreg_fill(dr, BSREG_TDO, 0, 0, 0);
    bsreg_fill(dr, BSREG_TDOMASK, 0, 0, 0);
    chain_shift(module->chain, DEVICE_DR, CHAIN_WRITE_ONLY);
}

int prepare_write(DevAlgModule* module, DevAlgState** state_out, int* pad, int* length) {
    int status = JTAG_OK;
    DevAlgState* state = devalg_checked(module, &status);
    if (!state) return status;
    *pad = chain_pad(chain_count(module->chain));
    if (!check_chain(module->chain)) {
        return devalg_store(module, JTAG_CHECK_DEVICES);
    }
    try {
        state->image.assign(static_cast<size_t>(state->image_bytes), 0);
    } catch (const std::bad_alloc&) {
        return devalg_store(module, JTAG_NO_MEMORY);
    }
    bool refused = false;
    *length = read_image(module, *state, &refused);
    if (*length == 0) {
        if (!refused) msg_print("Bit file format error\n");
        std::vector<uint8_t>().swap(state->image);
        return devalg_store(module, JTAG_FILE_OPEN);
    }
    *state_out = state;
    jtag_cable_lock(module->chain, 1);
    state->running = 1;
    report_status("Write start");
    load_instruction(module, "0x0b", "jprogram");
    return JTAG_OK;
}

void stream_image(DevAlgModule* module, DevAlgState& state, int length) {
    BsReg* dr = data_register(module);
    const int total = 8 * length;
    int sent = 0;
    while (sent < total && state.running == 1) {
        const int n = std::min(total - sent, kImagePieceBits);
        bsreg_resize(dr, n);
        bsreg_fill(dr, BSREG_TDI, 0, 0, 0);
        uint8_t* tdi = bsreg_plane(dr, BSREG_TDI);
        expand_bits(tdi, state.image.data() + sent / 8, n);
        chain_runtest(module->chain, SHIFT_DR, 0, n, tdi, nullptr);
        sent += n;
        report_progress(sent, total, "Programming FPGA");
    }
}

namespace {

void return_to_bypass(DevAlgModule* module) {
    load_instruction(module, "0x3f", "bypass");
    BsReg* dr = data_register(module);
    bsreg_resize(dr, 1);
    bsreg_set(dr, BSREG_TDO, 0, 0, 1);
    jtag_cable_lock(module->chain, 0);
}

int result_of(DevAlgModule* module, const DevAlgState& state) {
    return devalg_store(module, state.running == 1 ? JTAG_OK : JTAG_CANCELLED);
}

}  // namespace

int finish_write(DevAlgModule* module, DevAlgState& state) {
    std::vector<uint8_t>().swap(state.image);
    return_to_bypass(module);
    return result_of(module, state);
}

int devalg_shutdown(DevAlgModule* module) {
    int status = JTAG_OK;
    DevAlgState* state = devalg_checked(module, &status);
    if (!state) return status;
    if (!check_chain(module->chain)) {
        return devalg_store(module, JTAG_CHECK_DEVICES);
    }
    jtag_cable_lock(module->chain, 1);
    state->running = 1;
    report_status("Shutdown start");
    load_instruction(module, "0x0b", "jprogram");
    chain_runtest(module->chain, RUNTEST_IDLE, 10000, 0, nullptr, nullptr);
    load_instruction(module, "0x0d", "jshutdown");
    chain_runtest(module->chain, RUNTEST_IDLE, 0, 12, nullptr, nullptr);
    load_instruction(module, "0x3f", "bypass");
    load_instruction(module, "0x3f", "bypass");
    report_progress(0, 0, "");
    return_to_bypass(module);
    return result_of(module, *state);
}
