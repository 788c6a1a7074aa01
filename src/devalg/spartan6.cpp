#include "devalg/spartan6.h"

#include <chrono>
#include <iterator>
#include <thread>

#include "devalg/entry_table.h"
#include "jtag/chain.h"
#include "jtag/msg.h"
#include "jtag/opflag.h"
#include "jtag/tap.h"

namespace {

// clang-format off
constexpr DevAlgPart kParts[] = {
    {0x04000093, "spi_xc6slx4.bit", 5449408},
    {0x04001093, "spi_xc6slx9.bit", 5449408},
    {0x04002093, "spi_xc6slx16.bit", 7426880},
    {0x04004093, "spi_xc6slx25.bit", 12822880},
    {0x04024093, "spi_xc6slx25t.bit", 12822880},
    {0x04008093, "spi_xc6slx45.bit", 23750208},
    {0x04028093, "spi_xc6slx45t.bit", 23750208},
    {0x0400E093, "spi_xc6slx75.bit", 39249216},
    {0x0402E093, "spi_xc6slx75t.bit", 39249216},
    {0x04011093, "spi_xc6slx100.bit", 53086272},
    {0x04031093, "spi_xc6slx100t.bit", 53086272},
    {0x0401D093, "spi_xc6slx150.bit", 67523136},
    {0x0403D093, "spi_xc6slx150t.bit", 67523136},
};
// clang-format on

// Configuration words, each byte stored bit-reversed so that it leaves LSB first.
// A: dummy word, sync word, command 7, two zero words.
constexpr uint8_t kBlockA[24] = {0xFF, 0xFF, 0xFF, 0xFF, 0x55, 0x99, 0xAA, 0x66,
                                 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xE0,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// B: command 8, two zero words.
constexpr uint8_t kBlockB[16] = {0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0x10,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

void* open(DevAlgModule* module) {
    return devalg_open_state(module, {kParts, std::size(kParts), true, false});
}

void sleep_100ms() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void wait_1us(Chain* chain, unsigned state) {
    chain_runtest(chain, state, 1, 0, nullptr, nullptr);
}

void settle(Chain* chain) {
    wait_1us(chain, PAUSE_DR);
    wait_1us(chain, TEST_LOGIC_RESET);
    wait_1us(chain, RUNTEST_IDLE);
}

void jstart(DevAlgModule* module) {
    load_instruction(module, "0x0c", "jstart");
    chain_runtest(module->chain, RUNTEST_IDLE, 0, 12, nullptr, nullptr);
}

// The sequence ends with the FPGA started whatever it says: success is not read back.
int write(DevAlgModule* module) {
    DevAlgState* state = nullptr;
    int pad = 0;
    int length = 0;
    const int prepared = prepare_write(module, &state, &pad, &length);
    if (!state) return prepared;
    Chain* chain = module->chain;

    chain_runtest(chain, RUNTEST_IDLE, 0, 10000, nullptr, nullptr);
    load_instruction(module, "0x05", "cfg_in");
    shift_block(module, kBlockA, sizeof kBlockA, pad);
    load_instruction(module, "0x0d", "jshutdown");
    chain_runtest(chain, RUNTEST_IDLE, 0, 12, nullptr, nullptr);
    wait_1us(chain, RUNTEST_IDLE);
    report_progress(1, 2, "Programming FPGA");
    report_progress(1, 2, "Programming FPGA");

    // From here the TAP stays in Shift-DR and the stream is continuous.
    load_instruction(module, "0x05", "cfg_in");
    BsReg* dr = device_get_register(module->device, DEVICE_DR);
    bsreg_resize(dr, 8 * sizeof kBlockB);
    bsreg_fill(dr, BSREG_TDI, 0, 0, 0);
    expand_bits(bsreg_plane(dr, BSREG_TDI), kBlockB, 8 * sizeof kBlockB);
    chain_runtest(chain, SHIFT_DR, 0, 8 * sizeof kBlockB, bsreg_plane(dr, BSREG_TDI), nullptr);
    stream_image(module, *state, length);

    sleep_100ms();
    const std::vector<uint8_t> flush(31 - pad, 0);
    chain_runtest(chain, SHIFT_DR, 0, 31 - pad, flush.data(), nullptr);
    sleep_100ms();
    chain_runtest(chain, RUNTEST_IDLE, 0, 1, nullptr, nullptr);
    sleep_100ms();
    settle(chain);
    jstart(module);
    load_instruction(module, "0x3f", "bypass");
    load_instruction(module, "0x3f", "bypass");
    settle(chain);
    jstart(module);
    load_instruction(module, "0x3f", "bypass", CHAIN_WRITE_BACK);
    report_progress(0, 0, "");
    return finish_write(module, *state);
}

int txrx(DevAlgModule* module, const uint8_t* send, uint8_t* receive, int write_count,
         int read_count, int write_only) {
    return spi_txrx(module, send, receive, write_count, read_count, write_only, 0);
}

const auto kEntries = make_entry_table(&open, &write, &txrx);

}  // namespace

const DevAlgEntry* spartan6_entries() {
    return kEntries.data();
}
