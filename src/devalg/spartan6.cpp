#include "devalg/spartan6.h"

#include <chrono>
#include <iterator>
#include <thread>

#include "devalg/entry_table.h"
#include "jtag/chain.h"
#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/opflag.h"
#include "jtag/status.h"
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

// Configuration words as the FPGA takes them. A: dummy word, sync word, command 7, two zero
// words. B: command 8, two zero words.
constexpr uint32_t kBlockA[] = {0xFFFFFFFF, 0xAA995566, 0x30008001, 0x00000007, 0, 0};
constexpr uint32_t kBlockB[] = {0x30008001, 0x00000008, 0, 0};
// Status read-back in 16-bit packets: dummy, sync, NOOP, read STAT, two NOOPs, DESYNC, two
// NOOPs.
constexpr uint32_t kReadStat[] = {0xFFFF, 0xFFFF, 0xAA99, 0x5566, 0x2000, 0x2901,
                                  0x2000, 0x2000, 0x30A1, 0x000D, 0x2000, 0x2000};

// Longest time the memory clearing after JPROGRAM may take (data sheet maximum).
constexpr int64_t kClearLimitUs = 2000;

constexpr int kStatCrcError = 0;
constexpr int kStatIdError = 1;
constexpr int kStatInitB = 12;
constexpr int kStatDone = 13;

void* open(DevAlgModule* module) {
    return devalg_open_state(module,
                             {kParts, std::size(kParts), true, false, FpgaFamily::Spartan6});
}

void sleep_100ms() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void settle(SequenceSteps& steps) {
    steps.runtest(PAUSE_DR, 1, 0);
    steps.runtest(TEST_LOGIC_RESET, 1, 0);
    steps.runtest(RUNTEST_IDLE, 1, 0);
}

void jstart(SequenceSteps& steps) {
    steps.instruction(kJstart);
    steps.runtest(RUNTEST_IDLE, 0, 12);
}

// After startup: DONE and INIT from the instruction capture the last BYPASS load kept, and STAT
// read back. True when the design started without CRC or ID error.
bool judge(SequenceSteps& steps, DevAlgModule* module, int pad) {
    const uint32_t capture = captured_instruction(module);
    uint32_t stat = 0;
    if (!read_config_register(steps, module, kReadStat, 16, pad, &stat)) return false;
    bool good = true;
    if (stat >> kStatCrcError & 1) {
        msg_print("%s\n", tr_ja(kCrcErrorMessage));
        good = false;
    }
    if (stat >> kStatIdError & 1) {
        msg_print("%s\n", tr_ja(kIdErrorMessage));
        good = false;
    }
    if (!(capture & kIrCaptureInit) || !(stat >> kStatInitB & 1)) {
        msg_print("%s\n", tr_ja(kInitLowMessage));
        good = false;
    }
    if (!(capture & kIrCaptureDone) || !(stat >> kStatDone & 1)) {
        print_done_low(stat);
        good = false;
    }
    return good;
}

// Success only when the FPGA reports a started design.
int write(DevAlgModule* module) {
    SequenceSteps steps(module, JTAG_PROGRAMMING);
    DevAlgState* state = nullptr;
    int pad = 0;
    int length = 0;
    const int prepared = prepare_write(module, steps, &state, &pad, &length);
    if (!state) return prepared;

    steps.runtest(RUNTEST_IDLE, 0, 10000);
    steps.instruction(kCfgIn);
    shift_words(steps, module, kBlockA, 32, pad);
    steps.instruction(kJshutdown);
    steps.runtest(RUNTEST_IDLE, 0, 12);
    steps.runtest(RUNTEST_IDLE, 1, 0);
    report_progress(1, 2, "Programming FPGA");
    report_progress(1, 2, "Programming FPGA");

    // From here the TAP stays in Shift-DR and the stream is continuous.
    load_cfg_in_when_cleared(steps, module, kClearLimitUs);
    BsReg* dr = device_get_register(module->device, DEVICE_DR);
    const int block_bits = 32 * static_cast<int>(std::size(kBlockB));
    bsreg_resize(dr, block_bits);
    bsreg_fill(dr, BSREG_TDI, 0, 0, 0);
    expand_words(bsreg_plane(dr, BSREG_TDI), kBlockB, 32);
    steps.runtest(SHIFT_DR, 0, block_bits, bsreg_plane(dr, BSREG_TDI));
    const bool streamed = stream_image(steps, module, *state, length);

    sleep_100ms();
    const std::vector<uint8_t> flush(31 - pad, 0);
    steps.runtest(SHIFT_DR, 0, 31 - pad, flush.data());
    sleep_100ms();
    steps.runtest(RUNTEST_IDLE, 0, 1);
    sleep_100ms();
    settle(steps);
    jstart(steps);
    steps.instruction(kBypass);
    steps.instruction(kBypass);
    settle(steps);
    jstart(steps);
    steps.instruction(kBypass, CHAIN_WRITE_BACK);
    const bool good = steps.ok() && streamed && judge(steps, module, pad);
    report_progress(0, 0, "");
    return finish_write(steps, module, *state, streamed, good);
}

int txrx(DevAlgModule* module, const uint8_t* send, uint8_t* receive, int write_count,
         int read_count, int write_only) {
    return spi_txrx(module, send, receive, write_count, read_count, write_only, 0);
}

const auto kEntries = make_entry_table<&open, &write, &txrx>();

}  // namespace

const DevAlgEntry* spartan6_entries() {
    return kEntries.data();
}
