#include "sim/bscan.h"

#include "sim/bits.h"

namespace vireo::sim {

void EmptyBscan::shift(int, const uint8_t* tdi, uint8_t* tdo, size_t nbits) {
    delay_one_bit(tdi, tdo, nbits, stage_);
}

}  // namespace vireo::sim
