// What a configured design hangs behind the FPGA's USER1..USER4 instructions (the BSCAN
// primitive). The SPI-flash bridge implements this; the FPGA routes USER1/USER2 here only while
// it holds a bridge design.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vireo::sim {

class BscanUser {
  public:
    virtual ~BscanUser() = default;

    // `user` is 1..4 for USER1..USER4, the instruction in the IR during the call.
    virtual void capture(int user) = 0;
    // Shift-DR, packed LSB first as on the chain; tdo bit i is driven before edge i.
    virtual void shift(int user, const uint8_t* tdi, uint8_t* tdo, size_t nbits) = 0;
    virtual void update(int user) = 0;
    // The TAP passed through Test-Logic-Reset (the primitive's RESET output).
    virtual void reset() {}
    // Modeled time of the board, for busy times behind the bridge.
    virtual void advance(uint64_t /*now_ns*/) {}
};

// No user logic: each USER register is a 1-bit stage that captures 0, which is also how the FPGA
// answers USER1/USER2 when it holds no bridge design.
class EmptyBscan final : public BscanUser {
  public:
    void capture(int) override { stage_ = false; }
    void shift(int, const uint8_t* tdi, uint8_t* tdo, size_t nbits) override;
    void update(int) override {}

  private:
    bool stage_ = false;
};

}  // namespace vireo::sim
