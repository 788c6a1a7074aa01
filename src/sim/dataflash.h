// Atmel AT45 DataFlash (AT45DB011D..161D): two SRAM page buffers, page program through a buffer
// with built-in erase, page/block/sector/chip erase, continuous array read, the 0xD7 status
// byte (bit 7 = ready) and the two page sizes. The "power of two" page size is a non-volatile
// configuration: 3D 2A 80 A6 stores it, and the part uses it from the next power-up on.
#pragma once

#include <algorithm>

#include "sim/spi_flash.h"

namespace vireo::sim {

class DataFlash final : public SpiFlash {
  public:
    // power_of_two: the stored page-size configuration the part powers up with.
    explicit DataFlash(const FlashPart& part, bool power_of_two = false);

    void select() override;
    uint8_t output() override;
    void input(uint8_t mosi) override;
    void deselect(bool whole_bytes) override;
    void advance(uint64_t now_ns) override { now_ns_ = std::max(now_ns_, now_ns); }
    std::vector<uint8_t>& array() override { return array_; }
    bool busy() const override { return now_ns_ < busy_until_; }

    uint8_t status() const;
    bool power_of_two() const { return binary_; }                         // page size in use
    bool power_of_two_stored() const override { return binary_stored_; }  // from next power-up
    uint64_t changes() const override { return changes_; }
    uint32_t page_size() const { return binary_ ? binary_page() : part_.at45_page; }

  private:
    static constexpr size_t kHeaderBytes = 8;

    uint32_t binary_page() const;
    uint32_t address() const;  // bytes 1..3 of the command
    uint32_t page_of(uint32_t a) const;
    uint32_t byte_of(uint32_t a) const;
    void execute();
    void start(uint64_t ns) { busy_until_ = now_ns_ + ns, ++changes_; }
    void erase_pages(uint32_t first, uint32_t count, uint64_t ns);

    const FlashPart& part_;
    std::vector<uint8_t> array_;  // pages of the default size; binary mode uses their start
    std::vector<uint8_t> buffer_[2];
    uint8_t header_[kHeaderBytes] = {};
    size_t count_ = 0;
    bool binary_ = false, binary_stored_ = false;
    bool protect_ = false;  // software sector protection (off at power-up)
    uint64_t now_ns_ = 0, busy_until_ = 0;
    uint64_t changes_ = 0;
};

}  // namespace vireo::sim
