#include "sim/config_engine.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>

#include "sim/bitgen.h"
#include "sim/config_crc.h"

namespace vireo::sim {
namespace {

constexpr uint32_t kSyncWord = 0xAA995566;
// Startup on CCLK: the internal oscillator clocks one startup phase per period (about 2.5 MHz).
constexpr uint64_t kCclkPeriodNs = 400;
constexpr unsigned kStartupSteps = 8;

// Register addresses, 7-series.
enum : unsigned {
    R7_CRC = 0x00,
    R7_FAR = 0x01,
    R7_FDRI = 0x02,
    R7_FDRO = 0x03,
    R7_CMD = 0x04,
    R7_CTL0 = 0x05,
    R7_MASK = 0x06,
    R7_STAT = 0x07,
    R7_COR0 = 0x09,
    R7_MFWR = 0x0A,
    R7_IDCODE = 0x0C,
    R7_BOOTSTS = 0x16,
    R7_CTL1 = 0x18,
};
// Register addresses, Spartan-6.
enum : unsigned {
    R6_CRC = 0x00,
    R6_FDRI = 0x03,
    R6_FDRO = 0x04,
    R6_CMD = 0x05,
    R6_CTL = 0x06,
    R6_MASK = 0x07,
    R6_STAT = 0x08,
    R6_COR1 = 0x0A,
    R6_COR2 = 0x0B,
    R6_IDCODE = 0x0E,
    R6_MFWR = 0x1B,
    R6_BOOTSTS = 0x20,
};
// CMD codes shared by both families; IPROG differs.
enum : uint32_t {
    CMD_WCFG = 0x01,
    CMD_MFW = 0x02,
    CMD_LFRM = 0x03,
    CMD_START = 0x05,
    CMD_RCRC = 0x07,
    CMD_AGHIGH = 0x08,
    CMD_SHUTDOWN = 0x0B,
    CMD_DESYNC = 0x0D,
    CMD_IPROG_S6 = 0x0E,
    CMD_IPROG_S7 = 0x0F,
};
// Boot-history record bits (the same low six in both families).
enum : uint32_t { BOOT_VALID = 1u << 0, BOOT_ID_ERROR = 1u << 4, BOOT_CRC_ERROR = 1u << 5 };

constexpr std::array<uint8_t, 256> make_reverse_table() {
    std::array<uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1u) << (7 - b);
        t[i] = static_cast<uint8_t>(r);
    }
    return t;
}
constexpr auto kReverse = make_reverse_table();

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

enum class Expect { Header, Payload, CountHigh, CountLow, AutoCrcHigh, AutoCrcLow };

struct ReadWord {
    uint32_t value;
    uint64_t repeat;
};

enum class StartClock { Cclk, User, Jtag };

// Everything JPROGRAM resets.
struct EngineState {
    uint64_t now_ns = 0;
    bool clearing = false;
    uint64_t clear_end_ns = 0;
    bool told_ignored = false;

    // Bit framing: before sync a sliding window hunts the sync word bit by bit; after it,
    // bits collect MSB first in `acc` until a word is complete.
    bool synced = false;
    uint32_t window = 0;
    uint64_t acc = 0;
    unsigned acc_bits = 0;

    // Packet processor.
    Expect expect = Expect::Header;
    unsigned reg = 0;  // register of the current / last type-1 packet
    bool writing = false;
    bool long_burst = false;  // the payload came with a type-2 header
    uint32_t remaining = 0;   // payload words still to come
    uint32_t index = 0;       // payload word index within the packet
    uint32_t count_high = 0;
    uint32_t auto_crc_high = 0;
    bool half_sync = false;  // Spartan-6: AA99 seen in header position

    std::array<uint32_t, 64> regs{};
    uint32_t crc = 0;
    uint32_t last_cmd = 0;
    uint64_t fdri_words = 0;
    uint64_t mfwr_frames = 0;
    uint32_t signature = 0;

    bool crc_error = false;
    bool id_error = false;
    bool id_checked = false;  // an IDCODE write matched this die: frame data may follow
    uint32_t bootsts = 0;

    // Startup sequencer.
    bool start_armed = false;
    bool ghigh_released = false;
    bool startup_running = false;
    StartClock clock = StartClock::Cclk;
    uint64_t startup_begin_ns = 0;
    unsigned steps = 0;
    bool done = false, gts = false, gwe = false, eos = false;
    bool isc_enabled = false;
    LoadedDesign design;

    std::deque<ReadWord> out;
    unsigned out_bit = 0;
};

}  // namespace

struct ConfigEngine::Impl : EngineState {
    const XilinxPart& part;
    Log log;
    const bool s7;
    const unsigned width;  // 32 or 16
    const uint32_t word_mask;
    uint64_t clear_ns;

    Impl(const XilinxPart& p, Log l)
        : part(p),
          log(std::move(l)),
          s7(p.family == Family::Series7),
          width(s7 ? 32 : 16),
          word_mask(s7 ? 0xFFFFFFFFu : 0xFFFFu),
          clear_ns(p.clear_ns) {}

    void say(const std::string& text) const {
        if (log) log(std::string(part.name) + ": " + text);
    }

    // ---- state -------------------------------------------------------------------------

    void reset(uint64_t t) {
        const uint32_t history = bootsts;
        static_cast<EngineState&>(*this) = EngineState{};
        bootsts = history;
        now_ns = t;
        clearing = true;
        clear_end_ns = t + clear_ns;
    }

    bool init_high() const { return !clearing && !crc_error && !id_error; }

    void record_boot(uint32_t record) {
        if (s7)
            bootsts = ((bootsts & 0xFF) << 8) | record;
        else
            bootsts = ((bootsts & 0x3F) << 6) | record;
    }

    void fail(bool crc_mismatch, const std::string& why) {
        (crc_mismatch ? crc_error : id_error) = true;
        record_boot(BOOT_VALID | (crc_mismatch ? BOOT_CRC_ERROR : BOOT_ID_ERROR));
        say(why + "; INIT_B low, packet processor desynchronised");
        desync();
    }

    void desync() {
        synced = false;
        window = 0;
        expect = Expect::Header;
        half_sync = false;
    }

    uint32_t stat() const {
        if (s7) {
            uint32_t s =
                (1u << 2) | (1u << 3) | (0x1u << 8);  // no MMCM / DCI to wait for; master SPI
            if (crc_error) s |= 1u << 0;
            if (eos) s |= 1u << 4;
            if (gts) s |= 1u << 5;
            if (gwe) s |= 1u << 6;
            if (ghigh_released) s |= 1u << 7;
            if (!clearing) s |= 1u << 11;
            if (init_high()) s |= 1u << 12;
            if (done) s |= (1u << 13) | (1u << 14);
            if (id_error) s |= 1u << 15;
            s |= std::min(steps, 7u) << 18;
            return s;
        }
        uint32_t s = (1u << 2) | (1u << 8) | (0x3u << 9);  // DCM_LOCK, HSWAPEN, mode pins
        if (crc_error) s |= 1u << 0;
        if (id_error) s |= 1u << 1;
        if (gts) s |= 1u << 3;
        if (gwe) s |= 1u << 4;
        if (ghigh_released) s |= 1u << 5;
        if (init_high()) s |= 1u << 12;
        if (done) s |= 1u << 13;
        return s;
    }

    // ---- startup -----------------------------------------------------------------------

    void begin_startup() {
        // Startup clock source: COR0[16:15] on 7-series, COR1[1:0] on Spartan-6.
        const uint32_t source = s7 ? (regs[R7_COR0] >> 15) & 3 : regs[R6_COR1] & 3;
        clock = source == 0 ? StartClock::Cclk : source == 1 ? StartClock::User : StartClock::Jtag;
        startup_running = true;
        startup_begin_ns = now_ns;
        steps = 0;
        static const char* const names[] = {"CCLK", "UserClk (never driven here)", "JTAG TCK"};
        say(std::string("startup armed, clocked by ") + names[static_cast<int>(clock)]);
    }

    // Phase fields of COR0 (7-series) / COR2 (Spartan-6); 7 ("keep") acts at the last phase.
    unsigned cycle(unsigned shift) const {
        const uint32_t cor = s7 ? regs[R7_COR0] : regs[R6_COR2];
        return std::min((cor >> shift) & 7u, 6u) + 1;
    }

    void step_to(unsigned target) {
        target = std::min(target, kStartupSteps);
        if (!startup_running || target <= steps) return;
        steps = target;
        if (steps >= cycle(3)) gts = true;
        if (steps >= cycle(0)) gwe = true;
        if (!done && steps >= cycle(s7 ? 12 : 9)) {
            done = true;
            record_boot(BOOT_VALID);
            design.configured = true;
            design.signature = signature;
            design.spi_bridge =
                signature == (s7 ? kBridgeSignatureSeries7 : kBridgeSignatureSpartan6);
            say(std::string("DONE high, ") + (design.spi_bridge ? "SPI bridge" : "user design") +
                " loaded");
        }
        if (steps >= kStartupSteps) {
            eos = true;
            startup_running = false;
        }
    }

    void shutdown() {
        eos = gwe = gts = false;
        startup_running = false;
    }

    // ---- packets -----------------------------------------------------------------------

    void feed_crc(unsigned r, uint32_t w) {
        if (s7) {
            if (!crc_skips_series7(r)) crc = crc_series7(crc, r, w);
        } else if (!crc_skips_spartan6(r)) {
            crc = crc_spartan6(crc, r, static_cast<uint16_t>(w));
        }
    }

    bool crc_matches(uint32_t written) const {
        if (s7) return written == crc;
        // Spartan-6 with COR1 bit 4 (CRC bypass) expects a fixed placeholder instead.
        if (regs[R6_COR1] & (1u << 4)) return written == 0x9876DEFC;
        return (written & 0x3FFFFF) == crc;
    }

    void check_crc(uint32_t written, const char* where) {
        if (crc_matches(written)) {
            say(std::string(where) + " passed");
        } else {
            fail(true,
                 std::string(where) + " failed: stream " + hex(written) + ", computed " + hex(crc));
        }
        if (s7) crc = 0;
    }

    // The IDCODE check compares bits 27:0; a match lets frame data in until the next JPROGRAM.
    void check_idcode(uint32_t written) {
        if ((written & 0x0FFFFFFF) == (part.idcode & 0x0FFFFFFF)) {
            id_checked = true;
            return;
        }
        fail(false, "IDCODE check failed: stream " + hex(written) + ", device " + hex(part.idcode));
    }

    // Frame data before a matching IDCODE write is an ID error, as on silicon.
    bool frame_data_allowed() {
        if (id_checked) return true;
        fail(false, "FDRI write before a matching IDCODE write");
        return false;
    }

    void command(uint32_t code) {
        last_cmd = code;
        switch (code) {
            case CMD_LFRM:
                ghigh_released = true;
                break;
            case CMD_AGHIGH:
                ghigh_released = false;
                break;
            case CMD_RCRC:
                crc = 0;
                break;
            case CMD_START:
                start_armed = true;
                break;
            case CMD_SHUTDOWN:
                shutdown();
                break;
            case CMD_DESYNC:
                desync();
                if (start_armed && !crc_error && !id_error && !done) begin_startup();
                break;
            default:
                if (code == (s7 ? CMD_IPROG_S7 : CMD_IPROG_S6)) {
                    say("IPROG: internal PROGRAM");
                    reset(now_ns);
                }
                break;
        }
    }

    void write7(unsigned r, uint32_t w) {
        feed_crc(r, w);
        switch (r) {
            case R7_CRC:
                check_crc(w, "CRC check");
                return;
            case R7_FDRI:
                if (!frame_data_allowed()) return;
                if (last_cmd == CMD_WCFG) ++fdri_words;
                return;
            case R7_MFWR:
                if (index == 0 && last_cmd == CMD_MFW) ++mfwr_frames;
                return;
            case R7_CMD:
                regs[r] = w & 0x1F;
                command(w & 0x1F);
                return;
            case R7_CTL0:
            case R7_CTL1:
                regs[r] = (regs[r] & ~regs[R7_MASK]) | (w & regs[R7_MASK]);
                return;
            case R7_IDCODE:
                check_idcode(w);
                return;
            case R7_STAT:
            case R7_BOOTSTS:
            case R7_FDRO:
                return;
            default:
                regs[r] = w;
                if (r == kSignatureRegSeries7) signature = w;
                return;
        }
    }

    void write6(unsigned r, uint32_t w) {
        feed_crc(r, w);
        switch (r) {
            case R6_CRC:
                regs[r] = (regs[r] << 16) | w;
                if (index == 1) check_crc(regs[r], "CRC check");
                return;
            case R6_FDRI:
                if (!frame_data_allowed()) return;
                if (last_cmd == CMD_WCFG) ++fdri_words;
                return;
            case R6_MFWR:
                if (index == 0 && last_cmd == CMD_MFW) ++mfwr_frames;
                return;
            case R6_CMD:
                regs[r] = w & 0x1F;
                command(w & 0x1F);
                return;
            case R6_CTL:
                regs[r] = (regs[r] & ~regs[R6_MASK]) | (w & regs[R6_MASK]);
                return;
            case R6_IDCODE:
                regs[r] = (regs[r] << 16) | w;
                if (index == 1) check_idcode(regs[r]);
                return;
            case R6_STAT:
            case R6_BOOTSTS:
            case R6_FDRO:
                return;
            default:
                regs[r] = (r == 0x1E || r == 0x01) ? (regs[r] << 16) | w : w;
                if (r == kSignatureRegSpartan6) signature = w;
                return;
        }
    }

    uint32_t read_value(unsigned r, uint64_t k) const {
        if (s7) {
            switch (r) {
                case R7_STAT:
                    return stat();
                case R7_BOOTSTS:
                    return bootsts;
                case R7_IDCODE:
                    return part.idcode;
                case R7_CRC:
                    return crc;
                case R7_FDRO:
                    return 0;  // frame data are not kept: a blank die reads zeros
                default:
                    return regs[r];
            }
        }
        switch (r) {
            case R6_STAT:
                return stat();
            case R6_BOOTSTS:
                return bootsts;
            case R6_IDCODE:
                return k == 0 ? part.idcode >> 16 : part.idcode & 0xFFFF;
            case R6_CRC:
                return k == 0 ? crc >> 16 : crc & 0xFFFF;
            case R6_FDRO:
                return 0;
            default:
                return regs[r] & 0xFFFF;
        }
    }

    void queue_read(unsigned r, uint64_t count) {
        if (count == 0) return;
        if (s7 || r != R6_IDCODE) {
            out.push_back({read_value(r, 0), count});
            return;
        }
        for (uint64_t k = 0; k < count; ++k) out.push_back({read_value(r, k), 1});
    }

    // Spartan-6 follows a type-2 FDRI burst with the expected CRC (two half-words).
    Expect after_payload() const {
        return !s7 && long_burst && reg == R6_FDRI ? Expect::AutoCrcHigh : Expect::Header;
    }

    void start_payload(uint32_t count, bool type2) {
        index = 0;
        remaining = count;
        long_burst = type2;
        expect = count > 0 ? Expect::Payload : after_payload();
    }

    void header(uint32_t w) {
        const uint32_t type = w >> (width - 3);
        const uint32_t op = (w >> (width - 5)) & 3;
        if (!s7) {
            if (half_sync && w == 0x5566) {
                half_sync = false;
                say("sync word while synchronised: re-synchronised");
                return;
            }
            half_sync = w == 0xAA99;
        } else if (w == kSyncWord) {
            say("sync word while synchronised: re-synchronised");
            return;
        }
        if (type == 1) {
            reg = s7 ? (w >> 13) & 0x1F : (w >> 5) & 0x3F;
            const uint32_t count = s7 ? w & 0x7FF : w & 0x1F;
            writing = op == 2;
            if (op == 1) queue_read(reg, count);
            if (writing) start_payload(count, false);
        } else if (type == 2) {
            if (!s7) reg = (w >> 5) & 0x3F;
            writing = op == 2;
            if (op != 1 && op != 2) return;
            if (s7) {
                const uint32_t count = w & 0x7FFFFFF;
                if (writing)
                    start_payload(count, true);
                else
                    queue_read(reg, count);
            } else {
                expect = Expect::CountHigh;
            }
        }
        // Other header types (the dummy word, a repeated sync half) are ignored.
    }

    void word(uint32_t w) {
        switch (expect) {
            case Expect::Header:
                header(w);
                return;
            case Expect::Payload:
                if (s7)
                    write7(reg, w);
                else
                    write6(reg, w);
                ++index;
                // A write above may have desynchronised or restarted the engine.
                if (expect != Expect::Payload) return;
                if (--remaining == 0) expect = after_payload();
                return;
            case Expect::CountHigh:
                count_high = w;
                expect = Expect::CountLow;
                return;
            case Expect::CountLow: {
                const uint32_t count = ((count_high << 16) | w) & 0x0FFFFFFF;
                if (writing) {
                    start_payload(count, true);
                } else {
                    queue_read(reg, count);
                    expect = Expect::Header;
                }
                return;
            }
            case Expect::AutoCrcHigh:
                auto_crc_high = w;
                expect = Expect::AutoCrcLow;
                return;
            case Expect::AutoCrcLow:
                expect = Expect::Header;
                check_crc(((auto_crc_high & 0x3F) << 16) | w, "auto-CRC check");
                return;
        }
    }

    // ---- bit framing -------------------------------------------------------------------

    // Pushes `n` bits (MSB first in `bits`) into the framing.
    void push_bits(uint32_t bits, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            const uint32_t bit = (bits >> i) & 1;
            if (!synced) {
                window = (window << 1) | bit;
                if (window == kSyncWord) {
                    synced = true;
                    expect = Expect::Header;
                    half_sync = false;
                    acc = 0;
                    acc_bits = 0;
                }
                continue;
            }
            acc = (acc << 1) | bit;
            if (++acc_bits == width) {
                acc_bits = 0;
                word(static_cast<uint32_t>(acc) & word_mask);
            }
        }
    }

    // The streaming path: a whole byte at once, whatever the alignment of the word framing.
    void push_byte(uint8_t msb_first) {
        if (!synced) {
            push_bits(msb_first, 8);
            return;
        }
        acc = (acc << 8) | msb_first;
        acc_bits += 8;
        if (acc_bits < width) return;
        acc_bits -= width;
        const uint32_t leftover = static_cast<uint32_t>(acc) & ((1u << acc_bits) - 1);
        word(static_cast<uint32_t>(acc >> acc_bits) & word_mask);
        if (!synced && acc_bits > 0) {
            // The word desynchronised: the rest of the byte goes back to the sync hunt.
            const unsigned n = acc_bits;
            acc_bits = 0;
            push_bits(leftover, n);
        }
    }

    void cfg_in(const uint8_t* data, size_t nbits) {
        if (nbits == 0) return;
        if (clearing) {
            if (!told_ignored) say("CFG_IN data ignored: INIT is low while the memory clears");
            told_ignored = true;
            return;
        }
        const size_t full = nbits / 8;
        for (size_t i = 0; i < full && !clearing; ++i) push_byte(kReverse[data[i]]);
        if (clearing) return;  // an IPROG in the stream restarted the engine
        if (const unsigned rest = nbits % 8) {
            const uint32_t msb_first = kReverse[data[full]] >> (8 - rest);
            push_bits(msb_first, rest);
        }
    }

    void cfg_out(uint8_t* data, size_t nbits) {
        std::fill(data, data + (nbits + 7) / 8, 0);
        for (size_t i = 0; i < nbits && !out.empty(); ++i) {
            ReadWord& front = out.front();
            if ((front.value >> (width - 1 - out_bit)) & 1) data[i / 8] |= uint8_t(1u << (i % 8));
            if (++out_bit == width) next_out_word();
        }
    }

    void next_out_word() {
        out_bit = 0;
        if (--out.front().repeat == 0) out.pop_front();
    }

    void capture() {
        acc = 0;
        acc_bits = 0;
        window = 0;
        if (out_bit != 0 && !out.empty()) next_out_word();
        out_bit = 0;
    }

    void advance(uint64_t t) {
        now_ns = std::max(now_ns, t);
        if (clearing && now_ns >= clear_end_ns) {
            clearing = false;
            told_ignored = false;
        }
        if (startup_running && clock == StartClock::Cclk)
            step_to(static_cast<unsigned>(
                std::min<uint64_t>((now_ns - startup_begin_ns) / kCclkPeriodNs, kStartupSteps)));
    }
};

ConfigEngine::ConfigEngine(const XilinxPart& part, Log log)
    : impl_(std::make_unique<Impl>(part, std::move(log))) {}
ConfigEngine::~ConfigEngine() = default;
ConfigEngine::ConfigEngine(ConfigEngine&&) noexcept = default;
ConfigEngine& ConfigEngine::operator=(ConfigEngine&&) noexcept = default;

void ConfigEngine::program(uint64_t now_ns) {
    impl_->reset(now_ns);
    impl_->say("JPROGRAM: clearing configuration memory");
}
void ConfigEngine::take_over_boot(uint64_t now_ns) {
    impl_->reset(now_ns);
    impl_->clearing = false;
    impl_->say("JTAG configuration takes over from the flash boot");
}
void ConfigEngine::advance(uint64_t now_ns) {
    impl_->advance(now_ns);
}
void ConfigEngine::cfg_in(const uint8_t* bits, size_t nbits) {
    impl_->cfg_in(bits, nbits);
}
void ConfigEngine::cfg_out(uint8_t* bits, size_t nbits) {
    impl_->cfg_out(bits, nbits);
}
void ConfigEngine::dr_capture() {
    impl_->capture();
}

void ConfigEngine::jtag_startup_clocks(uint64_t tcks) {
    Impl& m = *impl_;
    if (m.startup_running && m.clock == StartClock::Jtag)
        m.step_to(static_cast<unsigned>(std::min<uint64_t>(m.steps + tcks, kStartupSteps)));
}
void ConfigEngine::jtag_shutdown_clocks(uint64_t tcks) {
    if (tcks > 0 && impl_->eos) impl_->shutdown();
}
// ISC_ENABLE runs a full shutdown; ISC_DISABLE restarts a loaded design.
void ConfigEngine::isc_enable() {
    impl_->isc_enabled = true;
    impl_->shutdown();
}
void ConfigEngine::isc_disable() {
    Impl& m = *impl_;
    m.isc_enabled = false;
    if (m.design.configured) m.eos = m.gwe = m.gts = true;
}

bool ConfigEngine::init() const {
    return impl_->init_high();
}
bool ConfigEngine::done() const {
    return impl_->done;
}
bool ConfigEngine::isc_done() const {
    return impl_->eos;
}
bool ConfigEngine::isc_enabled() const {
    return impl_->isc_enabled;
}
uint32_t ConfigEngine::stat() const {
    return impl_->stat();
}
uint32_t ConfigEngine::bootsts() const {
    return impl_->bootsts;
}
const LoadedDesign& ConfigEngine::design() const {
    return impl_->design;
}
const XilinxPart& ConfigEngine::part() const {
    return impl_->part;
}
void ConfigEngine::restore(const LoadedDesign& design, uint32_t bootsts, uint64_t now_ns) {
    Impl& e = *impl_;
    e.reset(now_ns);
    e.clearing = false;
    e.bootsts = bootsts;
    e.ghigh_released = e.done = e.gts = e.gwe = e.eos = design.configured;
    e.steps = design.configured ? kStartupSteps : 0;
    e.design = design;
}

uint64_t ConfigEngine::clear_time_ns() const {
    return impl_->clear_ns;
}

void ConfigEngine::set_clear_time_ns(uint64_t ns) {
    impl_->clear_ns = ns;
}
uint64_t ConfigEngine::frames_written() const {
    return impl_->fdri_words / impl_->part.frame_words + impl_->mfwr_frames;
}
bool ConfigEngine::synced() const {
    return impl_->synced;
}

}  // namespace vireo::sim
