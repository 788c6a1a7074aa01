#include "devalg/sequence.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "cables/bit_pack.h"
#include "cables/cable.h"
#include "formats/bitfile.h"
#include "jtag/chain.h"
#include "jtag/msg.h"
#include "jtag/opflag.h"
#include "jtag/status.h"
#include "jtag/tap.h"

namespace {

constexpr int kInfoSize = 100;
constexpr int kInstructionBits = 6;
constexpr uint32_t kInitBit = 1u << 4;
constexpr int64_t kInitPollUs = 100;

BsReg* data_register(const DevAlgModule* module) {
    return device_get_register(module->device, DEVICE_DR);
}

// The extension of the file name, not of a folder on its path ("v1.2/top" has none).
const char* file_extension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
    return path.c_str() + dot;
}

// The image length read from the devopt's file, 0 when it was refused or unreadable.
int read_image(DevAlgModule* module, DevAlgState& state, bool* refused) {
    const std::string& path = module->devopt->file_path;
    const char* extension = file_extension(path);
    if (!extension) return 0;
    if (strcasecmp(extension, ".bit") != 0) {
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

// The identity check of the whole chain, with a lost cable told apart from a wrong chain.
int check_chain(Chain* chain) {
    const int result = jtag_check_devices(chain);
    if (result == JTAG_OK) return JTAG_OK;
    return cable_alive(chain_get_cable(chain)) ? JTAG_CHECK_DEVICES : JTAG_DISCONNECTED;
}

}  // namespace

SequenceSteps::SequenceSteps(DevAlgModule* module, int failure)
    : module_(module), failure_(failure) {}

SequenceSteps::~SequenceSteps() {
    unlock_cable();
}

void SequenceSteps::lock_cable() {
    jtag_cable_lock(module_->chain, 1);
    cable_locked_ = true;
}

void SequenceSteps::unlock_cable() {
    if (!cable_locked_) return;
    cable_locked_ = false;
    jtag_cable_lock(module_->chain, 0);
}

bool SequenceSteps::check(int result) {
    if (!ok()) return false;
    if (result == JTAG_OK) return true;
    const bool alive = cable_alive(chain_get_cable(module_->chain));
    status_ = !alive ? JTAG_DISCONNECTED : result == JTAG_FAIL ? failure_ : result;
    return false;
}

void SequenceSteps::fail(int status) {
    if (ok()) status_ = status;
}

bool SequenceSteps::instruction(FpgaInstruction instruction, int flags) {
    if (!ok()) return false;
    return check(
        device_shift_instruction(module_->device, instruction.code, flags, instruction.label));
}

bool SequenceSteps::scan(int kind, int flags) {
    if (!ok()) return false;
    ChainSettings* settings = chain_settings(module_->chain);
    settings->error = 0;
    const int result = chain_shift(module_->chain, kind, flags);
    // With compare, a zero result may only mean the capture differed; the driver's own
    // failure shows in the settings' error flag.
    const bool failed = (flags & CHAIN_COMPARE) ? settings->error != 0 : result != JTAG_OK;
    return check(failed ? JTAG_FAIL : JTAG_OK);
}

bool SequenceSteps::runtest(unsigned state, int64_t usec, int64_t clocks, const uint8_t* tdi) {
    if (!ok()) return false;
    return check(chain_runtest(module_->chain, state, usec, clocks, tdi, nullptr));
}

void print_done_low(uint32_t status) {
    msg_print("FPGA configuration failed: DONE did not go high (STAT=0x%08X).\n", status);
}

int chain_pad(int device_count) {
    return (32 - ((device_count - 1) % 32)) % 32;
}

void expand_words(uint8_t* plane, std::span<const uint32_t> words, int word_bits) {
    for (uint32_t word : words) {
        for (int b = word_bits - 1; b >= 0; --b) *plane++ = (word >> b) & 1;
    }
}

bool shift_words(SequenceSteps& steps, DevAlgModule* module, std::span<const uint32_t> words,
                 int word_bits, int pad) {
    BsReg* dr = data_register(module);
    bsreg_resize(dr, pad + word_bits * static_cast<int>(words.size()));
    bsreg_fill(dr, BSREG_TDI, 0, 0, 0);
    expand_words(bsreg_plane(dr, BSREG_TDI) + pad, words, word_bits);
    bsreg_fill(dr, BSREG_TDO, 0, 0, 0);
    bsreg_fill(dr, BSREG_TDOMASK, 0, 0, 0);
    return steps.scan(DEVICE_DR, CHAIN_WRITE_ONLY);
}

bool read_config_register(SequenceSteps& steps, DevAlgModule* module,
                          std::span<const uint32_t> words, int word_bits, int pad,
                          uint32_t* value) {
    *value = 0;
    steps.instruction(kCfgIn);
    shift_words(steps, module, words, word_bits, pad);
    steps.instruction(kCfgOut);
    BsReg* dr = data_register(module);
    bsreg_resize(dr, word_bits);
    if (!steps.scan(DEVICE_DR, CHAIN_COMPARE)) return false;
    const uint8_t* captured = bsreg_plane_view(dr, BSREG_TDOCAPTURE);
    for (int i = 0; i < word_bits; ++i) *value = (*value << 1) | (captured[i] & 1);
    return true;
}

uint32_t captured_instruction(const DevAlgModule* module) {
    uint32_t value = 0;
    bsreg_get(device_get_register(module->device, DEVICE_IR), BSREG_TDOCAPTURE, 0, kInstructionBits,
              &value);
    return value;
}

bool load_cfg_in_when_cleared(SequenceSteps& steps, DevAlgModule* module, int64_t clear_limit_us) {
    for (int64_t waited = 0;; waited += kInitPollUs) {
        if (!steps.instruction(kCfgIn, CHAIN_WRITE_BACK)) return false;
        if (captured_instruction(module) & kInitBit) return true;
        if (waited >= clear_limit_us) break;
        if (!steps.runtest(RUNTEST_IDLE, kInitPollUs, 0)) return false;
    }
    msg_print("INIT did not go high after JPROGRAM: the FPGA did not finish clearing.\n");
    steps.fail(JTAG_PROGRAMMING);
    return false;
}

int prepare_write(DevAlgModule* module, SequenceSteps& steps, DevAlgState** state_out, int* pad,
                  int* length) {
    int status = JTAG_OK;
    DevAlgState* state = devalg_checked(module, &status);
    if (!state) return status;
    *pad = chain_pad(chain_count(module->chain));
    if (const int checked = check_chain(module->chain); checked != JTAG_OK) {
        return devalg_store(module, checked);
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
    steps.lock_cable();
    state->running = 1;
    report_status("Write start");
    steps.instruction(kJprogram);
    return JTAG_OK;
}

bool stream_image(SequenceSteps& steps, DevAlgModule* module, DevAlgState& state, int length) {
    BsReg* dr = data_register(module);
    const int total = 8 * length;
    int sent = 0;
    while (sent < total && state.running == 1 && steps.ok()) {
        const int n = std::min(total - sent, kImagePieceBits);
        bsreg_resize(dr, n);
        uint8_t* tdi = bsreg_plane(dr, BSREG_TDI);
        unpack_bits(state.image.data() + sent / 8, n, tdi);  // sets every bit of the piece
        if (!steps.runtest(SHIFT_DR, 0, n, tdi)) break;
        sent += n;
        report_progress(sent, total, "Programming FPGA");
    }
    return sent == total;
}

namespace {

// Puts the FPGA back in BYPASS when the cable still works; the host side of its data register
// and the cable lock are restored in any case.
void return_to_bypass(SequenceSteps& steps, DevAlgModule* module) {
    steps.instruction(kBypass);
    BsReg* dr = data_register(module);
    bsreg_resize(dr, 1);
    bsreg_set(dr, BSREG_TDO, 0, 0, 1);
    steps.unlock_cable();
}

}  // namespace

int finish_write(SequenceSteps& steps, DevAlgModule* module, DevAlgState& state, bool streamed,
                 bool verdict_good) {
    std::vector<uint8_t>().swap(state.image);
    return_to_bypass(steps, module);
    if (!steps.ok()) return devalg_store(module, steps.status());
    if (!streamed) return devalg_store(module, JTAG_CANCELLED);
    return devalg_store(module, verdict_good ? JTAG_OK : JTAG_PROGRAMMING);
}

int devalg_shutdown(DevAlgModule* module) {
    int status = JTAG_OK;
    DevAlgState* state = devalg_checked(module, &status);
    if (!state) return status;
    if (const int checked = check_chain(module->chain); checked != JTAG_OK) {
        return devalg_store(module, checked);
    }
    SequenceSteps steps(module, JTAG_PROGRAMMING);
    steps.lock_cable();
    state->running = 1;
    report_status("Shutdown start");
    steps.instruction(kJprogram);
    steps.runtest(RUNTEST_IDLE, 10000, 0);
    steps.instruction(kJshutdown);
    steps.runtest(RUNTEST_IDLE, 0, 12);
    steps.instruction(kBypass);
    steps.instruction(kBypass);
    report_progress(0, 0, "");
    return_to_bypass(steps, module);
    if (!steps.ok()) return devalg_store(module, steps.status());
    return devalg_store(module, state->running == 1 ? JTAG_OK : JTAG_CANCELLED);
}
