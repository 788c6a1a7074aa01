#include "devalg/spi_bridge.h"

#include <algorithm>
#include <climits>

#include "cables/bit_pack.h"
#include "cables/cable.h"
#include "devalg/devalg_state.h"
#include "devalg/sequence.h"
#include "jtag/chain.h"
#include "jtag/status.h"
#include "jtag/tap.h"

namespace {

constexpr int kUser1 = 2;
constexpr int kUser2 = 3;
constexpr int kIrBits = 6;
constexpr int kControlBits = 128;
// Longest USER1 scan accepted; the chain refuses scans of INT_MAX bits and more anyway.
constexpr int64_t kMaxFrameBits = INT_MAX / 2;

// The bridge answers nothing on its instruction and header scans: they go out write-only, queued
// with what follows, so that they cost no round trip to the cable.
bool select_user(SequenceSteps& steps, DevAlgModule* module, int user) {
    bsreg_set(device_get_register(module->device, DEVICE_IR), BSREG_TDI, user, 0, kIrBits);
    return steps.scan(DEVICE_IR, CHAIN_WRITE_ONLY);
}

BsReg* data_register(const DevAlgModule* module) {
    return device_get_register(module->device, DEVICE_DR);
}

bool send_header(SequenceSteps& steps, DevAlgModule* module, uint32_t skip, uint32_t count) {
    select_user(steps, module, kUser2);
    BsReg* dr = data_register(module);
    bsreg_resize(dr, kControlBits);
    bsreg_set(dr, BSREG_TDI, skip, 8, 32);
    bsreg_set(dr, BSREG_TDI, count, 40, 32);
    steps.scan(DEVICE_DR, CHAIN_WRITE_ONLY);
    return select_user(steps, module, kUser1);
}

// Every other device of the chain in BYPASS, on the host side too: an all-ones instruction and a
// one-bit data register. A frame then has the length its header announced, whatever an earlier
// operation (an IDCODE read of the whole chain) left in those registers.
void bypass_other_devices(DevAlgModule* module) {
    for (int i = 0; i < chain_count(module->chain); ++i) {
        Device* device = chain_get_device(module->chain, i);
        if (device == module->device) continue;
        BsReg* ir = device_get_register(device, DEVICE_IR);
        bsreg_fill(ir, BSREG_TDI, 1, 0, bsreg_length(ir));
        bsreg_resize(device_get_register(device, DEVICE_DR), 1);
    }
}

// A failed bridge scan answers 0, or 21 for a lost cable, which the error report then shows.
int bridge_result(DevAlgModule* module, const SequenceSteps& steps) {
    return steps.ok() ? JTAG_OK : devalg_store(module, steps.status());
}

// The bytes an SPI transaction received, from its captured bits on, each most significant bit
// first.
void received_bytes(const uint8_t* bits, int count, uint8_t* receive) {
    pack_msb_first(bits, static_cast<size_t>(count), receive);
}

// The whole-chain bit where a device's register begins: the bits of the devices after it, which
// sit nearer TDO.
int64_t register_start(const DevAlgModule* module, int kind) {
    int64_t bits = 0;
    bool after = false;
    for (int i = 0; i < chain_count(module->chain); ++i) {
        Device* device = chain_get_device(module->chain, i);
        if (after) bits += bsreg_length(device_get_register(device, kind));
        after = after || device == module->device;
    }
    return bits;
}

// The bytes of the deferred transactions into their buffers, in the order they went out.
int collect_reads(DevAlgModule* module, DevAlgState& state) {
    if (state.deferred_reads.empty()) return JTAG_OK;
    std::vector<DevAlgState::DeferredRead>& reads = state.collected_reads;
    reads.clear();
    reads.swap(state.deferred_reads);
    std::vector<std::vector<uint8_t>>& captures = state.captures;
    const bool delivered = chain_collect(module->chain, &captures) == JTAG_OK;
    if (!delivered || captures.size() != reads.size()) {
        const bool alive = cable_alive(chain_get_cable(module->chain));
        return devalg_store(module, alive ? JTAG_FAIL : JTAG_DISCONNECTED);
    }
    for (size_t i = 0; i < reads.size(); ++i) {
        const DevAlgState::DeferredRead& read = reads[i];
        if (read.first + 8 * int64_t{read.read_count} > std::ssize(captures[i]))
            return devalg_store(module, JTAG_FAIL);
        received_bytes(captures[i].data() + read.first, read.read_count, read.receive);
    }
    return JTAG_OK;
}

}  // namespace

int spi_setup(DevAlgModule* module, int) {
    int status = JTAG_OK;
    DevAlgState* state = devalg_checked(module, &status);
    if (!state) return status;
    SequenceSteps steps(module, JTAG_FAIL);
    bsreg_resize(device_get_register(module->device, DEVICE_IR), kIrBits);
    steps.runtest(TEST_LOGIC_RESET, 0, 0);
    steps.runtest(RUNTEST_IDLE, 0, 0);
    state->device_count = chain_count(module->chain);
    state->index = devalg_position(module);
    state->after = state->device_count - state->index - 1;
    bypass_other_devices(module);
    select_user(steps, module, kUser2);
    bsreg_resize(data_register(module), kControlBits);
    steps.scan(DEVICE_DR, CHAIN_COMPARE);
    select_user(steps, module, kUser1);
    bsreg_resize(data_register(module), 1);
    state->cached_frame = 0;
    return bridge_result(module, steps);
}

int spi_txrx(DevAlgModule* module, const uint8_t* send, uint8_t* receive, int write_count,
             int read_count, int write_only, int extra) {
    int status = JTAG_OK;
    DevAlgState* state = devalg_checked(module, &status);
    if (!state) return status;
    if (write_only == SPI_TXRX_COLLECT) return collect_reads(module, *state);
    // The idle cycles run on in the data register past the frame, where the bridge has let the
    // flash go.
    int64_t idle = 0;
    if (write_only == SPI_TXRX_WRITE_THEN_IDLE) {
        idle = read_count;
        read_count = 0;
        write_only = SPI_TXRX_WRITE_ONLY;
    }
    if (write_count < 0 || read_count < 0 || idle < 0) return JTAG_FAIL;
    const int64_t bytes = int64_t{write_count} + read_count;
    const int64_t frame = 8 * bytes;  // L
    const int64_t skip = state->after + extra;
    const int64_t length = frame + state->after + state->index + 1 + extra + idle;
    if (length > kMaxFrameBits) return JTAG_FAIL;
    if ((bytes > 0 && !send) || (read_count > 0 && !receive)) return JTAG_NULL;

    // Bytes come back in the order the transactions went out.
    if (write_only == SPI_TXRX_WAIT) {
        if (const int collected = collect_reads(module, *state); collected != JTAG_OK)
            return collected;
    }
    SequenceSteps steps(module, JTAG_FAIL);
    // Nothing of a transaction needs to leave on its own: the scans whose TDO is read go out
    // with what was queued before them, and the rest with the next wait or read.
    ChainFlushGuard queued(module->chain, 0);
    if (bytes != state->cached_frame) {
        // A header that did not arrive whole must be sent again by the next transaction.
        state->cached_frame = -1;
        if (!send_header(steps, module, static_cast<uint32_t>(skip),
                         static_cast<uint32_t>(frame + skip))) {
            return bridge_result(module, steps);
        }
        state->cached_frame = static_cast<int>(bytes);
    }
    // Sized on every call: a register an intervening scan resized would cut the frame short.
    BsReg* dr = data_register(module);
    bsreg_resize(dr, static_cast<int>(length));
    uint8_t* tdi = bsreg_plane(dr, BSREG_TDI);
    unpack_msb_first(send, static_cast<size_t>(bytes), tdi);
    if (write_only == SPI_TXRX_DEFERRED) {
        if (!steps.scan(DEVICE_DR, CHAIN_DEFERRED)) return bridge_result(module, steps);
        const int64_t first =
            register_start(module, DEVICE_DR) + 8 * int64_t{write_count} + skip + 1;
        state->deferred_reads.push_back({receive, read_count, first});
        return JTAG_OK;
    }
    if (write_only) {
        ChainSettings* settings = chain_settings(module->chain);
        settings->bulk = 1;
        steps.scan(DEVICE_DR, CHAIN_WRITE_ONLY);
        settings->bulk = 0;
    } else {
        steps.scan(DEVICE_DR, CHAIN_WRITE_BACK);
    }
    if (!steps.ok()) return bridge_result(module, steps);
    received_bytes(bsreg_plane_view(dr, BSREG_TDOCAPTURE) + 8 * int64_t{write_count} + skip + 1,
                   read_count, receive);
    return JTAG_OK;
}

int spi_get_descr(DevAlgModule* module, int count, uint8_t* buffer) {
    int status = JTAG_OK;
    DevAlgState* state = devalg_checked(module, &status);
    if (!state) return status;
    if (count > 0 && !buffer) return JTAG_NULL;
    SequenceSteps steps(module, JTAG_FAIL);
    select_user(steps, module, kUser2);
    BsReg* dr = data_register(module);
    bsreg_resize(dr, kControlBits);
    // The zero control word shifted here replaces the bridge's header: the next transaction
    // must send its own, whatever happens to this one.
    state->cached_frame = 0;
    if (!steps.scan(DEVICE_DR, CHAIN_COMPARE)) return bridge_result(module, steps);
    const uint8_t* captured = bsreg_plane_view(dr, BSREG_TDOCAPTURE);
    for (int i = 0; i < std::min(count, kSpiDescriptorBytes); ++i) {
        uint8_t byte = 0;
        for (int b = 0; b < 8; ++b) byte |= static_cast<uint8_t>((captured[8 * i + b] & 1) << b);
        buffer[i] = byte;
    }
    select_user(steps, module, kUser1);
    bsreg_resize(dr, 2);
    return bridge_result(module, steps);
}
