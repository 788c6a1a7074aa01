// TAP of a Spartan-6 or 7-series FPGA: instruction decoding, the data registers behind each
// instruction and the JTAG side of configuration, which it hands to its ConfigEngine.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bits.h"
#include "sim/boundary_layout.h"
#include "sim/bscan.h"
#include "sim/config_engine.h"
#include "sim/spi_flash.h"
#include "sim/tap_device.h"
#include "sim/xilinx_instructions.h"
#include "sim/xilinx_parts.h"

namespace vireo::sim {

// A fixed 57-bit device DNA for a board: the same board name always gives the same value.
uint64_t board_dna(const XilinxPart& part, std::string_view board);

class XilinxFpga final : public TapDevice {
  public:
    static constexpr int kIrLength = 6;
    static constexpr int kDnaBits = 57;
    static constexpr int kFuseDnaBits = 64;

    explicit XilinxFpga(const XilinxPart& part, ConfigEngine::Log log = {});

    std::string name() const override { return part_.name; }
    int ir_length() const override { return kIrLength; }
    void reset() override;
    uint64_t ir_capture() override;
    void ir_update(uint64_t instruction) override;
    void dr_capture() override;
    void dr_shift(const uint8_t* tdi, uint8_t* tdo, size_t nbits) override;
    void dr_update() override;
    void idle_clocks(uint64_t tcks) override;
    void advance(uint64_t now_ns) override;
    void attach_clock(const ModelClock* clock) override { clock_ = clock; }

    const XilinxPart& part() const { return part_; }
    ConfigEngine& engine() { return engine_; }
    const ConfigEngine& engine() const { return engine_; }
    XilinxInstr instruction() const { return instr_; }

    uint32_t idcode() const { return part_.idcode | (revision_ << 28); }
    void set_revision(unsigned rev) { revision_ = rev & 0xF; }
    uint64_t dna() const { return dna_; }
    void set_dna(uint64_t dna);
    // User logic behind USER1/USER2 while a bridge design is loaded; null means none. It takes
    // the place of the bridge to the configuration flash.
    void set_bscan_user(std::shared_ptr<BscanUser> user) { bscan_ = std::move(user); }
    // The SPI flash on the configuration pins. A bridge design that configures gets a fresh
    // bridge to it; JPROGRAM removes the bridge with the design.
    void set_flash(std::shared_ptr<SpiFlash> flash);
    // What runs a loaded bridge design: the C++ model (SpiBridge) unless set, or another
    // implementation of it (the RTL bridge).
    using BridgeMaker = std::function<std::unique_ptr<BscanUser>(std::shared_ptr<SpiFlash>)>;
    void set_bridge_maker(BridgeMaker maker);
    SpiFlash* flash() const { return flash_.get(); }

    // Mode pins say master SPI: after JPROGRAM, once the memory is cleared, the FPGA reads the
    // flash from address 0 at the configuration clock and hands it to its configuration logic,
    // until DONE, an error, or the end of the flash. Loading CFG_IN (JTAG configuration) or
    // ISC_ENABLE stops it. power_up() starts the same read at once, on a cleared FPGA.
    void power_up();
    // The FPGA as another process left it on a board that stayed powered: no boot from flash.
    void restore_design(const LoadedDesign& design, uint32_t bootsts);
    bool booting() const { return boot_ != Boot::Off; }
    static constexpr uint64_t kBootCclkHz = 2'500'000;  // one CCLK period is 400 ns

    // Boundary scan. Cell j of the register is bit j (cell 0 leaves first on TDO). The pads
    // follow boundary_layout(): each captures its wiring (a pull-up, a clock from modeled time,
    // ground) or, under EXTEST with its control cell enabled, what it drives; a loaded design
    // drives LED0 high. set_pin_inputs replaces that with fixed levels on every cell, which
    // SAMPLE captures as they are and EXTEST ignores (it captures what it drives).
    void set_pin_inputs(std::vector<bool> cells);
    const BoundaryLayout& boundary() const { return layout_; }
    const std::vector<bool>& boundary_outputs() const { return update_latch_; }
    bool extest_active() const { return instr_ == XilinxInstr::Extest; }  // outputs driven
    bool outputs_tristated() const { return instr_ == XilinxInstr::Highz; }

  private:
    enum class Path { Bypass, Register, CfgIn, CfgOut, User };

    enum class Boot { Off, Waiting, Reading };
    void run_boot(uint64_t now_ns);
    void stop_boot();

    BscanUser* user_logic();  // what USER1/USER2 reach now, or null
    void shift_user(BscanUser& user, const uint8_t* tdi, uint8_t* tdo, size_t nbits);
    int user_number();  // 1..2 while USER1/USER2 reach the bridge, else 0
    std::vector<bool> dna_cells(int length) const;
    std::vector<bool> boundary_capture() const;

    const XilinxPart& part_;
    ConfigEngine engine_;
    std::shared_ptr<BscanUser> bscan_;
    std::shared_ptr<SpiFlash> flash_;
    const ModelClock* clock_ = nullptr;  // the chain's
    std::unique_ptr<BscanUser> bridge_;  // the loaded bridge design's logic
    BridgeMaker bridge_maker_;
    Boot boot_ = Boot::Off;
    uint64_t boot_at_ns_ = 0;  // Waiting: when the read command starts; Reading: first data byte
    uint64_t boot_bytes_ = 0;  // data bytes read so far
    uint32_t ones_run_ = 0;    // 0xFF bytes in a row just read
    XilinxInstr instr_ = XilinxInstr::Idcode;
    Path path_ = Path::Register;
    ShiftRegister reg_;
    bool bypass_stage_ = false;
    int user_ = 0;
    uint32_t revision_ = 0;
    uint64_t dna_ = 0;
    uint64_t now_ns_ = 0;
    BoundaryLayout layout_;
    bool pins_forced_ = false;  // set_pin_inputs took the place of the wired pads
    std::vector<bool> pin_inputs_;
    std::vector<bool> update_latch_;
};

}  // namespace vireo::sim
