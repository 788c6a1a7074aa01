// Configuration logic of one virtual Xilinx FPGA: the packet processor behind CFG_IN / CFG_OUT,
// the configuration registers, CRC, STAT / BOOTSTS and the startup sequencer.
// The TAP model (xilinx_fpga) owns one engine and feeds it what the JTAG side does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/xilinx_parts.h"

namespace vireo::sim {

// What the FPGA holds after a successful configuration.
struct LoadedDesign {
    bool configured = false;  // startup reached DONE
    bool spi_bridge = false;  // the design carries our SPI-bridge signature
    uint32_t usercode = 0xFFFFFFFF;
    uint32_t signature = 0;  // value seen in the signature register (AXSS / GENERAL)
};

class ConfigEngine {
  public:
    using Log = std::function<void(const std::string&)>;

    ConfigEngine(const XilinxPart& part, Log log = {});
    ~ConfigEngine();
    ConfigEngine(ConfigEngine&&) noexcept;
    ConfigEngine& operator=(ConfigEngine&&) noexcept;

    // JPROGRAM / PROGRAM_B: drops DONE and INIT, resets every register, the CRC and sync, forgets
    // the design and the checked IDCODE, and starts clearing the configuration memory for the
    // clear time. BOOTSTS, the boot history, survives.
    void program(uint64_t now_ns);
    // A board that stayed powered between two processes: the engine as it is after startup
    // completed with `design` loaded, with the given boot history. Time restarts at now_ns.
    void restore(const LoadedDesign& design, uint32_t bootsts, uint64_t now_ns);
    // JTAG configuration takes over from a flash boot read in progress: the packet processor,
    // the registers and the CRC start afresh for the JTAG stream (the memory needs no new
    // clearing; the boot history stays).
    void take_over_boot(uint64_t now_ns);
    // Advances modeled time: ends clearing (INIT high) and runs the CCLK startup sequencer.
    void advance(uint64_t now_ns);

    // CFG_IN: bits in the order they arrive on TDI during Shift-DR, packed LSB first
    // (bit i of the stream is bit i%8 of byte i/8). Each 32-bit (16-bit) word enters MSB first.
    // Data that arrives while INIT is low is ignored (and logged). A write to FDRI before an
    // IDCODE write has matched the die is an ID error: STAT ID_ERROR, INIT_B low, desync.
    void cfg_in(const uint8_t* packed_bits, size_t nbits);
    // CFG_OUT: fills nbits of readback output (packed like cfg_in), MSB of each word first.
    void cfg_out(uint8_t* packed_bits, size_t nbits);
    // Called on Capture-DR / Update-DR with CFG_OUT or CFG_IN selected, so that word framing
    // restarts on each new scan where the hardware does.
    void dr_capture();

    // JSTART selected and `tcks` TCK cycles in Run-Test/Idle (startup on the JTAG clock).
    void jtag_startup_clocks(uint64_t tcks);
    // JSHUTDOWN selected and `tcks` TCK cycles in Run-Test/Idle.
    void jtag_shutdown_clocks(uint64_t tcks);
    // ISC_ENABLE / ISC_DISABLE.
    void isc_enable();
    void isc_disable();

    bool init() const;      // internal INIT_B: high when not clearing and no CRC/ID error
    bool done() const;      // internal DONE
    bool isc_done() const;  // end of startup (EOS)
    bool isc_enabled() const;
    uint32_t stat() const;
    uint32_t bootsts() const;
    const LoadedDesign& design() const;
    const XilinxPart& part() const;

    // Time JPROGRAM keeps INIT low; the part's clear_ns unless changed here.
    void set_clear_time_ns(uint64_t ns);
    uint64_t clear_time_ns() const;
    // Frames written since the last JPROGRAM (FDRI words / frame size, plus one per MFWR write).
    uint64_t frames_written() const;
    // Whether the packet processor is synchronised.
    bool synced() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vireo::sim
