// JTAG steps the configuration sequences of both families are built from.
#pragma once

#include <cstdint>
#include <span>

#include "devalg/devalg_state.h"
#include "jtag/lang.h"

constexpr int kImagePieceBits = 16384;

// The FPGA instructions the sequences load, with the label that travels with each scan to the
// cable. The codes are the same on both families.
struct FpgaInstruction {
    const char* code;
    const char* label;
};
inline constexpr FpgaInstruction kJprogram{"0x0b", "jprogram"};
inline constexpr FpgaInstruction kCfgIn{"0x05", "cfg_in"};
inline constexpr FpgaInstruction kCfgOut{"0x04", "cfg_out"};
inline constexpr FpgaInstruction kJshutdown{"0x0d", "jshutdown"};
inline constexpr FpgaInstruction kJstart{"0x0c", "jstart"};
inline constexpr FpgaInstruction kNoop{"0x14", "noop"};
inline constexpr FpgaInstruction kBypass{"0x3f", "bypass"};

// Verdict messages both families print.
inline constexpr const char* kIdErrorMessage =
    tr_ja_noop("デバイス書き込みで、ID エラー が発生しました");
inline constexpr const char* kCrcErrorMessage =
    tr_ja_noop("デバイス書き込みで、CRC エラー が発生しました");
inline constexpr const char* kInitLowMessage =
    tr_ja_noop("デバイス書き込みで、INIT_Bがアサートされていないため、失敗しました");
// The line for a configuration that ended without DONE, with the status word read.
void print_done_low(uint32_t status);

// The steps of one sequence with a sticky status: every scan and run-test is checked, the first
// failure ends the sequence's JTAG work (later steps do nothing and answer false), and status()
// says why: 21 when the cable has gone, else the failure status given at construction.
class SequenceSteps {
  public:
    SequenceSteps(DevAlgModule* module, int failure);
    // Releases the cable lock if the sequence still holds it (an early return, an exception).
    ~SequenceSteps();
    SequenceSteps(const SequenceSteps&) = delete;
    SequenceSteps& operator=(const SequenceSteps&) = delete;

    bool ok() const { return status_ == 1; }
    [[nodiscard]] int status() const { return status_; }

    // Loads an instruction into the FPGA and shifts the chain's instruction registers; the
    // other devices shift what theirs hold.
    bool instruction(FpgaInstruction instruction, int flags = 0);
    // A whole-chain scan; a compare outcome does not count, only whether the cable shifted.
    bool scan(int kind, int flags);
    bool runtest(unsigned state, int64_t usec, int64_t clocks, const uint8_t* tdi = nullptr);
    // Records the result of a step made elsewhere.
    bool check(int result);
    // Ends the sequence with a status of its own (a verdict, a time-out).
    void fail(int status);
    // Cable lock (option 9) for the sequence's JTAG work.
    void lock_cable();
    void unlock_cable();

  private:
    DevAlgModule* module_;
    int failure_;
    int status_ = 1;
    bool cable_locked_ = false;
};

// Zero bits that bring the bypass bits of the other n - 1 devices to a multiple of 32.
int chain_pad(int device_count);
// Configuration words into a TDI plane, each most significant bit first, as CFG_IN takes them.
void expand_words(uint8_t* plane, std::span<const uint32_t> words, int word_bits);
// Data scan without compare: pad zero bits, then the words.
bool shift_words(SequenceSteps& steps, DevAlgModule* module, std::span<const uint32_t> words,
                 int word_bits, int pad);
// Reads one configuration register: the words go in through CFG_IN, the register comes out
// through CFG_OUT, its most significant bit first.
bool read_config_register(SequenceSteps& steps, DevAlgModule* module,
                          std::span<const uint32_t> words, int word_bits, int pad, uint32_t* value);
// The FPGA's captured instruction bits of the last instruction scan with capture.
uint32_t captured_instruction(const DevAlgModule* module);
// Loads CFG_IN once the FPGA has finished clearing after JPROGRAM: INIT (bit 4 of the captured
// instruction bits) is polled for up to `clear_limit_us`, the part's longest clearing time.
bool load_cfg_in_when_cleared(SequenceSteps& steps, DevAlgModule* module, int64_t clear_limit_us);

// Write steps up to JPROGRAM: checks, chain check, image read; then the cable lock, the
// running flag, "Write start" and JPROGRAM. Answers 1 with the image in state.image (length
// bytes used), or the entry's result without touching the FPGA.
int prepare_write(DevAlgModule* module, SequenceSteps& steps, DevAlgState** state, int* pad,
                  int* length);
// Streams the image in pieces by run-test in Shift-DR; stops at the first failed piece or when
// Cancel cleared the running flag. True when every piece went out.
bool stream_image(SequenceSteps& steps, DevAlgModule* module, DevAlgState& state, int length);
// Frees the image, puts the FPGA back in BYPASS, releases the cable lock and gives the result:
// a failed step first, then a stream cut short by Cancel (24), then the verdict.
int finish_write(SequenceSteps& steps, DevAlgModule* module, DevAlgState& state, bool streamed,
                 bool verdict_good);
// The Shutdown entry of both families.
int devalg_shutdown(DevAlgModule* module);
