// Drives one virtual Xilinx FPGA on a chain whose other devices stay in BYPASS.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "sim/xilinx_fpga.h"
#include "sim_scan.h"

namespace vireo::sim::test {

// IR capture bits of the Xilinx TAPs.
inline constexpr uint64_t kIscDone = 1 << 2, kIscEnabled = 1 << 3, kInit = 1 << 4, kDone = 1 << 5;
inline constexpr uint64_t kConfigured = 0b01 | kIscDone | kInit | kDone;

class FpgaDriver {
  public:
    FpgaDriver(TapChain& chain, size_t index) : chain_(chain) {
        for (size_t i = index + 1; i < chain.size(); ++i) ir_offset_ += chain.device(i).ir_length();
        bypass_before_ = index;
        fpga_ = dynamic_cast<XilinxFpga*>(&chain.device(index));
    }

    // Loads the FPGA instruction (all ones elsewhere); returns the FPGA's IR capture.
    uint64_t load(XilinxInstr instr) {
        const size_t total = static_cast<size_t>(chain_.total_ir_length());
        uint64_t ir = ((1ull << total) - 1) & ~(0x3Full << ir_offset_);
        ir |= uint64_t{instruction_code(fpga_->part().family, instr)} << ir_offset_;
        return (ir_scan(chain_, ir, total) >> ir_offset_) & 0x3F;
    }
    uint64_t status() { return load(XilinxInstr::Bypass); }

    // Image bytes leave MSB first; the bypass stages on the TDI side keep the padding bits.
    void shift_image(const std::vector<uint8_t>& image) {
        const size_t nbits = image.size() * 8 + bypass_before_;
        std::vector<uint8_t> tdi(bytes_for_bits(nbits), 0);
        for (size_t i = 0; i < image.size(); ++i)
            for (int b = 0; b < 8; ++b) put_bit(tdi.data(), i * 8 + b, (image[i] >> (7 - b)) & 1);
        chain_.go_to(TapState::ShiftDr);
        chain_.shift(tdi.data(), nullptr, nbits, true);
        chain_.go_to(TapState::RunTestIdle);
    }

    bool wait_for_init() {
        for (int poll = 0; poll < 1000; ++poll, chain_.run_clocks(3000))
            if (status() & kInit) return true;
        return false;
    }

    // JPROGRAM, INIT, CFG_IN, JSTART and 2000 clocks; returns the IR capture afterwards.
    uint64_t configure(const std::vector<uint8_t>& image) {
        load(XilinxInstr::Jprogram);
        EXPECT_TRUE(wait_for_init());
        load(XilinxInstr::CfgIn);
        shift_image(image);
        load(XilinxInstr::Jstart);
        chain_.run_clocks(2000);
        return status();
    }

    XilinxFpga& fpga() { return *fpga_; }

  private:
    TapChain& chain_;
    XilinxFpga* fpga_ = nullptr;
    int ir_offset_ = 0;
    size_t bypass_before_ = 0;
};

struct ChainHolder {
    TapChain chain;
};

// A chain holding just one FPGA (the holder base is built first, so the chain exists in time).
struct FpgaBench : ChainHolder, FpgaDriver {
    explicit FpgaBench(const char* part_name)
        : FpgaDriver(add(part_name), 0), fpga(&FpgaDriver::fpga()) {}
    TapChain& add(const char* part_name) {
        chain.add(std::make_unique<XilinxFpga>(*find_xilinx_part(part_name)));
        return chain;
    }
    XilinxFpga* fpga;
};

}  // namespace vireo::sim::test
