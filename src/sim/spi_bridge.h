// The SPI bridge design behind USER1/USER2 of a configured FPGA. USER2 is a 128-bit register
// that captures the descriptor "NORVALE JSPI1.0" + NUL and takes a header at Update-DR: bits 8-39
// the clocks to skip, bits 40-71 the clock at which the transaction ends. Each USER1 data scan
// is one SPI transaction: chip select is low from the skip clock to the end clock, TDI goes to
// MOSI most significant bit first, and TDO shows MISO one clock later (the bridge registers
// it). A scan that stops before the end clock raises chip select at Update-DR.
#pragma once

#include <memory>

#include "sim/bits.h"
#include "sim/bscan.h"
#include "sim/spi_flash.h"

namespace vireo::sim {

class SpiBridge final : public BscanUser {
  public:
    explicit SpiBridge(std::shared_ptr<SpiFlash> flash);

    void capture(int user) override;
    void shift(int user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) override;
    void update(int user) override;

    uint64_t skip() const { return skip_; }
    uint64_t end() const { return end_; }

  private:
    void end_transaction();

    std::shared_ptr<SpiFlash> flash_;
    ShiftRegister control_{128};
    uint64_t skip_ = 0, end_ = 0;
    uint64_t clock_ = 0;     // clocks of this USER1 scan
    bool selected_ = false;  // chip select low
    uint8_t out_ = 0xFF;     // the byte the flash drives in this SPI byte
    uint8_t in_ = 0;         // MOSI bits of this SPI byte so far
    unsigned bit_ = 0;       // bits of this SPI byte so far
    bool miso_ = false;      // registered MISO of the previous clock
};

}  // namespace vireo::sim
