#include "devalg/series7.h"

#include <iterator>
#include <span>

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
    {0x0362F093, "spi_xc7s50.bit", 4384024},
    {0x03631093, "spi_xc7a100t.bit", 4194304},
    {0x03636093, "spi_xc7a200t.bit", 19461304},
    {0x0364C093, "spi_xc7k160t.bit", 26770288},
    {0x03727093, "spi_xc7z020.bit", 8388608},
};
// clang-format on

// Status read-back: dummy, sync, NOOP, read one word of BOOTSTS (C) or STAT (D), NOOP, NOOP,
// command 0xD0, NOOP, NOOP.
constexpr uint32_t kBlockC[] = {0xFFFFFFFF, 0xAA995566, 0x20000000, 0x2802C001, 0x20000000,
                                0x20000000, 0x30008001, 0x000000D0, 0x20000000, 0x20000000};
constexpr uint32_t kBlockD[] = {0xFFFFFFFF, 0xAA995566, 0x20000000, 0x2800E001, 0x20000000,
                                0x20000000, 0x30008001, 0x000000D0, 0x20000000, 0x20000000};

// Longest time the memory clearing after JPROGRAM may take (data sheet maximum).
constexpr int64_t kClearLimitUs = 5000;

constexpr int kStatCrcError = 0;
constexpr int kStatDone = 14;
constexpr int kStatIdError = 15;
constexpr int kBootIdError = 4;
constexpr int kBootCrcError = 5;

struct StatusBit {
    int bit;
    const char* message;
};

// Boot status bits that report a failed configuration when set.
constexpr StatusBit kBootErrors[] = {
    {3, tr_ja_noop("デバイス書き込みで、ウォッチドッグのタイムアウトエラー が発生しました")},
    {4, kIdErrorMessage},
    {5, kCrcErrorMessage},
    {6,
     tr_ja_noop(
         "デバイス書き込みで、BPI アドレスカ ウ ン ターのラップアラウンドエラー が発生しました")},
    {7, tr_ja_noop("デバイス書き込みで、その他のエラー が発生しました")},
};
// Status bits that must be set after a successful configuration.
constexpr StatusBit kStatusNeeded[] = {
    {12, kInitLowMessage},
    {11, tr_ja_noop("デバイス書き込みで、初期化が完了しないため、失敗しました")},
    {7, tr_ja_noop(
            "デバイス書き込みで、インターコネクトがハイインピーダンスのままのため、失敗しました")},
};

void* open(DevAlgModule* module) {
    return devalg_open_state(module, {kParts, std::size(kParts), false, true, FpgaFamily::Series7});
}

uint32_t read_register(SequenceSteps& steps, DevAlgModule* module, std::span<const uint32_t> block,
                       int pad) {
    uint32_t word = 0;
    read_config_register(steps, module, block, 32, pad, &word);
    return word;
}

// Prints what the two status words say; true when the configuration came up: no error in the
// boot status, INIT_B, INIT_COMPLETE, GHIGH_B and DONE set, and no CRC or ID error in STAT
// (a JTAG configuration need not update the boot status).
bool judge(SequenceSteps& steps, DevAlgModule* module, int pad) {
    bool good = true;
    const uint32_t boot = read_register(steps, module, kBlockC, pad);
    if (!steps.ok()) return false;
    for (const StatusBit& s : kBootErrors) {
        if (boot >> s.bit & 1) {
            msg_print("%s\n", tr_ja(s.message));
            good = false;
        }
    }
    steps.instruction(kBypass, CHAIN_WRITE_BACK);
    const uint32_t status = read_register(steps, module, kBlockD, pad);
    if (!steps.ok()) return false;
    for (const StatusBit& s : kStatusNeeded) {
        if (!(status >> s.bit & 1)) {
            msg_print("%s\n", tr_ja(s.message));
            good = false;
        }
    }
    if ((status >> kStatCrcError & 1) && !(boot >> kBootCrcError & 1)) {
        msg_print("%s\n", tr_ja(kCrcErrorMessage));
        good = false;
    }
    if ((status >> kStatIdError & 1) && !(boot >> kBootIdError & 1)) {
        msg_print("%s\n", tr_ja(kIdErrorMessage));
        good = false;
    }
    if (!(status >> kStatDone & 1)) {
        print_done_low(status);
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

    steps.instruction(kNoop);
    steps.runtest(RUNTEST_IDLE, 0, 100000);
    steps.instruction(kNoop);
    report_progress(1, 2, "Programming FPGA");
    report_progress(1, 2, "Programming FPGA");

    // The image brings its own sync word and commands.
    load_cfg_in_when_cleared(steps, module, kClearLimitUs);
    const bool streamed = stream_image(steps, module, *state, length);
    const std::vector<uint8_t> flush(31 - pad, 0);
    steps.runtest(SHIFT_DR, 0, 31 - pad, flush.data());
    steps.runtest(RUNTEST_IDLE, 0, 1);
    steps.runtest(RUNTEST_IDLE, 10000, 0);

    const bool good = judge(steps, module, pad);
    if (good) {
        msg_print(tr_ja("デバイス書き込み成功。起動します。\n"));
        steps.instruction(kCfgOut);
        steps.runtest(RUNTEST_IDLE, 0, 100);
    }
    steps.instruction(kBypass);
    steps.instruction(kBypass);
    report_progress(0, 0, "");
    return finish_write(steps, module, *state, streamed, good);
}

// With devices before the FPGA the bridge sees the frame one bit later.
int txrx(DevAlgModule* module, const uint8_t* send, uint8_t* receive, int write_count,
         int read_count, int write_only) {
    const DevAlgState* state = module ? static_cast<const DevAlgState*>(module->state) : nullptr;
    const int extra = state && state->index != 0 ? 1 : 0;
    return spi_txrx(module, send, receive, write_count, read_count, write_only, extra);
}

const auto kEntries = make_entry_table<&open, &write, &txrx>();

}  // namespace

const DevAlgEntry* series7_entries() {
    return kEntries.data();
}
