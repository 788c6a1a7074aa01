// The 25-series SPI NOR parts (Winbond W25Q, ST/Micron M25P, M25PX and N25Q, SST25VF, Atmel
// AT25DQ321): JEDEC identification, status register and WEL, program that only clears bits,
// sector and chip erase with their busy times, block and sector protection, SST AAI word
// programming, and the 3/4-byte addressing of the 256-Mbit parts.
#pragma once

#include "sim/spi_flash.h"

namespace vireo::sim {

class JedecFlash final : public SpiFlash {
  public:
    explicit JedecFlash(const FlashPart& part);

    void select() override;
    uint8_t output() override;
    void input(uint8_t mosi) override;
    void deselect(bool whole_bytes) override;
    void advance(uint64_t now_ns) override;
    std::vector<uint8_t>& array() override { return array_; }
    bool busy() const override { return now_ns_ < busy_until_; }
    uint64_t changes() const override { return changes_; }

    uint8_t status() const;
    bool address_mode_4byte() const { return addr4_; }

  private:
    static constexpr size_t kHeaderBytes = 8;

    void settle();
    size_t address_bytes(uint8_t op) const;
    uint32_t address(size_t from, size_t nbytes) const;
    bool is_protected(uint32_t first, uint32_t count) const;
    void start_cycle(uint64_t ns);
    void execute();
    void write_status();
    void program(uint32_t at);
    void erase(uint32_t at, uint32_t unit, uint64_t ns);
    void aai_word();
    uint64_t program_ns();

    const FlashPart& part_;
    std::vector<uint8_t> array_;
    uint8_t header_[kHeaderBytes] = {};
    size_t count_ = 0;            // bytes of this transaction so far
    std::vector<int16_t> latch_;  // page-program data by offset in the page; -1 unwritten
    uint8_t sr_ = 0;              // stored status bits 2..7
    uint8_t sr2_ = 0;             // Winbond status register 2
    bool wel_ = false;
    bool ewsr_ = false;  // SST: status-register write enabled by 0x50
    bool aai_ = false;   // SST: inside an AAI word-program sequence
    uint32_t aai_address_ = 0;
    bool addr4_ = false;               // 4-byte address mode
    uint8_t ear_ = 0;                  // extended address register (A24)
    bool sprl_ = false;                // AT25DQ: sector protection registers locked
    std::vector<bool> sector_locked_;  // AT25DQ: per 64 KB sector
    bool cycle_ = false;               // a program/erase/status cycle has been started
    uint64_t now_ns_ = 0, busy_until_ = 0;
    uint64_t changes_ = 0;
    uint64_t cycles_ = 0;  // program cycles started, for the slow ones
};

}  // namespace vireo::sim
