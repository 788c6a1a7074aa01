#include "sim/xilinx_fpga.h"

#include <algorithm>
#include <cstring>

#include "sim/spi_bridge.h"

namespace vireo::sim {
namespace {

constexpr uint64_t kDnaMask = (uint64_t{1} << XilinxFpga::kDnaBits) - 1;
constexpr int kIscRegisterBits = 5;  // ISC_CONFIG / ISC_DEFAULT
constexpr uint64_t kBootByteNs = 8 * 1'000'000'000ull / XilinxFpga::kBootCclkHz;
constexpr size_t kBootChunk = 4096;
constexpr uint8_t kFastRead[5] = {0x0B, 0, 0, 0, 0};  // opcode, address 0, one dummy byte

// The configuration logic takes bits in arrival order, packed LSB first; flash bytes arrive
// most significant bit first.
uint8_t arrival_order(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

uint64_t board_dna(const XilinxPart& part, std::string_view board) {
    uint64_t h = 0xcbf29ce484222325ull ^ part.idcode;  // FNV-1a over the board name
    for (char c : board) h = (h ^ static_cast<uint8_t>(c)) * 0x100000001b3ull;
    h ^= h >> 29;
    uint64_t dna = (h * 0xbf58476d1ce4e5b9ull) & kDnaMask;
    // Spartan-6 identifiers carry two fixed top bits; we use 1 then 0 as on Spartan-3A.
    if (part.family == Family::Spartan6) dna = (dna & (kDnaMask >> 2)) | (uint64_t{1} << 56);
    return dna;
}

XilinxFpga::XilinxFpga(const XilinxPart& part, ConfigEngine::Log log)
    : part_(part),
      engine_(part, std::move(log)),
      reg_(32),
      dna_(board_dna(part, "")),
      layout_(boundary_layout(part)),
      pin_inputs_(static_cast<size_t>(part.bsr_len), false),
      update_latch_(static_cast<size_t>(part.bsr_len), false) {}

void XilinxFpga::set_dna(uint64_t dna) {
    dna_ = dna & kDnaMask;
}

void XilinxFpga::set_pin_inputs(std::vector<bool> cells) {
    cells.resize(static_cast<size_t>(part_.bsr_len), false);
    pin_inputs_ = std::move(cells);
    pins_forced_ = true;
}

std::vector<bool> XilinxFpga::boundary_capture() const {
    if (pins_forced_) return extest_active() ? update_latch_ : pin_inputs_;
    std::vector<bool> cells(static_cast<size_t>(part_.bsr_len), false);
    const bool design = engine_.design().configured;
    for (const BoundaryPad& pad : layout_.pads) {
        const size_t control = static_cast<size_t>(pad.control_cell);
        const size_t output = static_cast<size_t>(pad.output_cell);
        // What drives the pad: the boundary register under EXTEST, else the design (LED0 only).
        bool enabled = false, level = false;
        if (extest_active()) {
            enabled = !update_latch_[control];  // control is active low
            level = update_latch_[output];
            cells[control] = update_latch_[control];
            cells[output] = update_latch_[output];
        } else {
            enabled = design && pad.port == "LED0";
            level = enabled;
            cells[control] = !enabled;
            cells[output] = level;
        }
        bool pad_level = enabled ? level : wiring_level(pad.wiring, now_ns_);
        if (pad.wiring == PadWiring::Ground) pad_level = false;  // the tie wins over the driver
        cells[static_cast<size_t>(pad.input_cell)] = pad_level;
    }
    return cells;
}

void XilinxFpga::reset() {
    instr_ = XilinxInstr::Idcode;
    if (BscanUser* user = user_logic()) user->reset();
}

uint64_t XilinxFpga::ir_capture() {
    return 0b01 | (uint64_t{engine_.isc_done()} << 2) | (uint64_t{engine_.isc_enabled()} << 3) |
           (uint64_t{engine_.init()} << 4) | (uint64_t{engine_.done()} << 5);
}

void XilinxFpga::ir_update(uint64_t instruction) {
    instr_ = decode_instruction(part_.family, static_cast<uint8_t>(instruction));
    switch (instr_) {
        case XilinxInstr::Jprogram:
            stop_boot();
            engine_.program(now_ns_);
            bridge_.reset();
            boot_ = Boot::Waiting;
            boot_at_ns_ = now_ns_ + engine_.clear_time_ns();
            break;
        case XilinxInstr::CfgIn:
            // A stream half read from the flash must not prefix the JTAG stream.
            if (boot_ == Boot::Reading) engine_.take_over_boot(now_ns_);
            stop_boot();
            break;
        case XilinxInstr::IscEnable:
            if (boot_ == Boot::Reading) engine_.take_over_boot(now_ns_);
            stop_boot();
            engine_.isc_enable();
            break;
        case XilinxInstr::IscDisable:
            engine_.isc_disable();
            break;
        default:
            break;
    }
}

BscanUser* XilinxFpga::user_logic() {
    const LoadedDesign& d = engine_.design();
    if (!d.configured || !d.spi_bridge) {
        bridge_.reset();  // the design is gone (IPROG, a failed load)
        return nullptr;
    }
    if (bscan_) return bscan_.get();
    if (!bridge_ && flash_)
        bridge_ = bridge_maker_ ? bridge_maker_(flash_) : std::make_unique<SpiBridge>(flash_);
    return bridge_.get();
}

int XilinxFpga::user_number() {
    if (!user_logic()) return 0;
    if (instr_ == XilinxInstr::User1) return 1;
    if (instr_ == XilinxInstr::User2) return 2;
    return 0;
}

// Cell j holds identifier bit 56-j, so the most significant bit leaves first.
std::vector<bool> XilinxFpga::dna_cells(int length) const {
    std::vector<bool> cells(static_cast<size_t>(length), false);
    const int pad = length - kDnaBits;
    for (int j = 0; j < kDnaBits; ++j) cells[static_cast<size_t>(pad + j)] = (dna_ >> (56 - j)) & 1;
    return cells;
}

void XilinxFpga::dr_capture() {
    path_ = Path::Register;
    switch (instr_) {
        case XilinxInstr::Idcode:
            reg_ = ShiftRegister(32);
            reg_.load(idcode());
            break;
        case XilinxInstr::Usercode: {
            const LoadedDesign& d = engine_.design();
            reg_ = ShiftRegister(32);
            reg_.load(d.configured ? d.usercode : 0xFFFFFFFFu);
            break;
        }
        case XilinxInstr::Sample:
        case XilinxInstr::Extest:
            reg_ = ShiftRegister(static_cast<size_t>(part_.bsr_len));
            reg_.load(boundary_capture());
            break;
        case XilinxInstr::IscEnable:
        case XilinxInstr::IscNoop:
            reg_ = ShiftRegister(kIscRegisterBits);
            break;
        case XilinxInstr::Dna:
            // Outside ISC mode the identifier is not reachable; the register reads all zero.
            reg_ = ShiftRegister(kDnaBits);
            if (engine_.isc_enabled()) reg_.load(dna_cells(kDnaBits));
            break;
        case XilinxInstr::FuseDna:
            reg_ = ShiftRegister(kFuseDnaBits);
            reg_.load(dna_cells(kFuseDnaBits));
            break;
        case XilinxInstr::CfgIn:
            path_ = Path::CfgIn;
            engine_.dr_capture();
            break;
        case XilinxInstr::CfgOut:
            path_ = Path::CfgOut;
            engine_.dr_capture();
            break;
        default:
            if ((user_ = user_number()) != 0) {
                path_ = Path::User;
                user_logic()->capture(user_);
            } else {
                path_ = Path::Bypass;
                bypass_stage_ = false;
            }
            break;
    }
}

void XilinxFpga::dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) {
    switch (path_) {
        case Path::Bypass:
            delay_one_bit(tdi, tdo, nbits, bypass_stage_);
            break;
        case Path::Register:
            reg_.shift(tdi, tdo, nbits);
            break;
        case Path::CfgIn:
            // The configuration port takes the stream; TDO stays low meanwhile.
            engine_.cfg_in(tdi, nbits);
            std::memset(tdo, 0, bytes_for_bits(nbits));
            break;
        case Path::CfgOut:
            engine_.cfg_out(tdo, nbits);
            break;
        case Path::User:
            if (BscanUser* user = user_logic())
                shift_user(*user, tdi, tdo, nbits);
            else
                delay_one_bit(tdi, tdo, nbits, bypass_stage_);
            break;
    }
}

// The flash's time moves on within a scan, as the silicon's does TCK by TCK: every 256 TCKs,
// so that a program cycle starts about when its command ended, and every eight while the flash
// is busy, so that a frame that keeps reading the status sees the cycle end.
void XilinxFpga::shift_user(BscanUser& user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) {
    if (!clock_ || !flash_) return user.shift(user_, tdi, tdo, nbits);
    const uint64_t start_ns = clock_->now_ns(), hz = clock_->tck_hz();
    for (size_t done = 0; done < nbits;) {
        flash_->advance(start_ns + done * 1'000'000'000 / hz);
        const size_t n = std::min<size_t>(flash_->busy() ? 8 : 256, nbits - done);
        user.shift(user_, tdi + done / 8, tdo + done / 8, n);
        done += n;
    }
}

void XilinxFpga::dr_update() {
    switch (path_) {
        case Path::Register:
            if (instr_ == XilinxInstr::Sample || instr_ == XilinxInstr::Extest)
                update_latch_ = reg_.cells();
            break;
        case Path::CfgIn:
        case Path::CfgOut:
            engine_.dr_capture();
            break;
        case Path::User:
            if (BscanUser* user = user_logic()) user->update(user_);
            break;
        case Path::Bypass:
            break;
    }
}

void XilinxFpga::idle_clocks(uint64_t tcks) {
    if (instr_ == XilinxInstr::Jstart)
        engine_.jtag_startup_clocks(tcks);
    else if (instr_ == XilinxInstr::Jshutdown)
        engine_.jtag_shutdown_clocks(tcks);
}

void XilinxFpga::set_flash(std::shared_ptr<SpiFlash> flash) {
    // A read in progress starts over on the new part.
    if (boot_ == Boot::Reading) {
        stop_boot();
        boot_ = Boot::Waiting;
        boot_at_ns_ = now_ns_;
    }
    bridge_.reset();
    flash_ = std::move(flash);
}

void XilinxFpga::set_bridge_maker(BridgeMaker maker) {
    bridge_.reset();
    bridge_maker_ = std::move(maker);
}

void XilinxFpga::power_up() {
    stop_boot();
    boot_ = Boot::Waiting;
    boot_at_ns_ = now_ns_;
}

void XilinxFpga::restore_design(const LoadedDesign& design, uint32_t bootsts) {
    stop_boot();
    bridge_.reset();
    engine_.restore(design, bootsts, now_ns_);
}

void XilinxFpga::stop_boot() {
    if (boot_ == Boot::Reading) flash_->deselect(true);
    boot_ = Boot::Off;
}

// Reads the flash bytes due by now_ns in pieces, moving the configuration logic's clock along
// so that startup begins where the image ends. While the logic searches for the sync word, runs
// of 0xFF past the first four leave it as it was and are not handed over.
void XilinxFpga::run_boot(uint64_t now_ns) {
    if (boot_ == Boot::Off || !flash_) return;
    if (boot_ == Boot::Waiting) {
        if (now_ns < boot_at_ns_) return;
        engine_.advance(boot_at_ns_);
        flash_->select();
        for (uint8_t b : kFastRead) flash_->output(), flash_->input(b);
        boot_ = Boot::Reading;
        boot_at_ns_ += sizeof kFastRead * kBootByteNs;
        boot_bytes_ = 0;
        ones_run_ = 0;
    }
    const uint64_t size = flash_->array().size();
    const uint64_t due =
        now_ns < boot_at_ns_ ? 0 : std::min(size, (now_ns - boot_at_ns_) / kBootByteNs);
    std::vector<uint8_t> piece;
    piece.reserve(kBootChunk);
    while (boot_bytes_ < due) {
        engine_.advance(boot_at_ns_ + boot_bytes_ * kBootByteNs);
        if (engine_.done() || !engine_.init()) break;
        bool skipping = !engine_.synced();
        piece.clear();
        for (size_t n = 0; n < kBootChunk && boot_bytes_ < due; ++n, ++boot_bytes_) {
            const uint8_t b = flash_->output();
            flash_->input(0);
            ones_run_ = b == 0xFF ? ones_run_ + 1 : 0;
            if (skipping && ones_run_ > 4) continue;
            if (b != 0xFF) skipping = false;
            piece.push_back(arrival_order(b));
        }
        engine_.cfg_in(piece.data(), piece.size() * 8);
    }
    if (engine_.done() || !engine_.init() || boot_bytes_ >= size) stop_boot();
}

void XilinxFpga::advance(uint64_t now_ns) {
    now_ns_ = now_ns;
    if (flash_) flash_->advance(now_ns);
    run_boot(now_ns);
    engine_.advance(now_ns);
    if (bscan_) bscan_->advance(now_ns);
}

}  // namespace vireo::sim
