#include "devalg/series7.h"

#include <iterator>

#include "devalg/entry_table.h"
#include "jtag/chain.h"
#include "jtag/msg.h"
#include "jtag/opflag.h"
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
// DESYNC, NOOP, NOOP. Bytes stored bit-reversed so that they leave LSB first.
constexpr uint8_t kBlockC[40] = {0xFF, 0xFF, 0xFF, 0xFF, 0x55, 0x99, 0xAA, 0x66, 0x04, 0x00,
                                 0x00, 0x00, 0x14, 0x40, 0x03, 0x80, 0x04, 0x00, 0x00, 0x00,
                                 0x04, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00,
                                 0x00, 0x0B, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};
constexpr uint8_t kBlockD[40] = {0xFF, 0xFF, 0xFF, 0xFF, 0x55, 0x99, 0xAA, 0x66, 0x04, 0x00,
                                 0x00, 0x00, 0x14, 0x00, 0x07, 0x80, 0x04, 0x00, 0x00, 0x00,
                                 0x04, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00,
                                 0x00, 0x0B, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};

struct StatusBit {
    int bit;
    const char* message;
};

// Boot status bits that report a failed configuration when set.
constexpr StatusBit kBootErrors[] = {
    {3, "デバイス書き込みで、ウォッチドッグのタイムアウトエラー が発生しました"},
    {4, "デバイス書き込みで、ID エラー が発生しました"},
    {5, "デバイス書き込みで、CRC エラー が発生しました"},
    {6, "デバイス書き込みで、BPI アドレスカ ウ ン ターのラップアラウンドエラー が発生しました"},
    {7, "デバイス書き込みで、その他のエラー が発生しました"},
};
// Status bits that must be set after a successful configuration.
constexpr StatusBit kStatusNeeded[] = {
    {12, "デバイス書き込みで、INIT_Bがアサートされていないため、失敗しました"},
    {11, "デバイス書き込みで、初期化が完了しないため、失敗しました"},
    {7, "デバイス書き込みで、インターコネクトがハイインピーダンスのままのため、失敗しました"},
};

void* open(DevAlgModule* module) {
    return devalg_open_state(module, {kParts, std::size(kParts), false, true});
}

// Sends a read-back block through CFG_IN and reads the register's word through CFG_OUT; the
// first bit out is the word's bit 31.
uint32_t read_register(DevAlgModule* module, const uint8_t (&block)[40], int pad) {
    load_instruction(module, "0x05", "cfg_in");
    shift_block(module, block, sizeof block, pad);
    load_instruction(module, "0x04", "cfg_out");
    BsReg* dr = device_get_register(module->device, DEVICE_DR);
    bsreg_resize(dr, 32);
    chain_shift(module->chain, DEVICE_DR, CHAIN_COMPARE);
    const uint8_t* captured = bsreg_plane(dr, BSREG_TDOCAPTURE);
    uint32_t word = 0;
    for (int i = 0; i < 32; ++i) word = (word << 1) | (captured[i] & 1);
    return word;
}

// Prints what the two status words say; true when the configuration came up.
bool judge(DevAlgModule* module, int pad) {
    bool good = true;
    const uint32_t boot = read_register(module, kBlockC, pad);
    for (const StatusBit& s : kBootErrors) {
        if (boot >> s.bit & 1) {
            msg_print("%s\n", s.message);
            good = false;
        }
    }
    load_instruction(module, "0x3f", "bypass", CHAIN_WRITE_BACK);
    const uint32_t status = read_register(module, kBlockD, pad);
    for (const StatusBit& s : kStatusNeeded) {
        if (!(status >> s.bit & 1)) {
            msg_print("%s\n", s.message);
            good = false;
        }
    }
    return good;
}

// The verdict only goes to the log; the result says whether the sequence ran.
int write(DevAlgModule* module) {
    DevAlgState* state = nullptr;
    int pad = 0;
    int length = 0;
    const int prepared = prepare_write(module, &state, &pad, &length);
    if (!state) return prepared;
    Chain* chain = module->chain;

    load_instruction(module, "0x14", "noop");
    chain_runtest(chain, RUNTEST_IDLE, 0, 100000, nullptr, nullptr);
    load_instruction(module, "0x14", "noop");
    report_progress(1, 2, "Programming FPGA");
    report_progress(1, 2, "Programming FPGA");

    // The image brings its own sync word and commands.
    load_instruction(module, "0x05", "cfg_in");
    stream_image(module, *state, length);
    const std::vector<uint8_t> flush(31 - pad, 0);
    chain_runtest(chain, SHIFT_DR, 0, 31 - pad, flush.data(), nullptr);
    chain_runtest(chain, RUNTEST_IDLE, 0, 1, nullptr, nullptr);
    chain_runtest(chain, RUNTEST_IDLE, 10000, 0, nullptr, nullptr);

    if (judge(module, pad)) {
        msg_print("デバイス書き込み成功。起動します。\n");
        load_instruction(module, "0x04", "cfg_out");
        chain_runtest(chain, RUNTEST_IDLE, 0, 100, nullptr, nullptr);
    }
    load_instruction(module, "0x3f", "bypass");
    load_instruction(module, "0x3f", "bypass");
    report_progress(0, 0, "");
    return finish_write(module, *state);
}

// With devices before the FPGA the bridge sees the frame one bit later.
int txrx(DevAlgModule* module, const uint8_t* send, uint8_t* receive, int write_count,
         int read_count, int write_only) {
    const DevAlgState* state = module ? static_cast<const DevAlgState*>(module->state) : nullptr;
    const int extra = state && state->index != 0 ? 1 : 0;
    return spi_txrx(module, send, receive, write_count, read_count, write_only, extra);
}

const auto kEntries = make_entry_table(&open, &write, &txrx);

}  // namespace

const DevAlgEntry* series7_entries() {
    return kEntries.data();
}
