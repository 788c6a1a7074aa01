// The SPI bridge of hdl/bridge/ as RTL: the Verilator build of vireo_spi_bridge.v behind the
// same BscanUser interface as the C++ model (SpiBridge), selected with the option bridge=rtl.
// Each capture, shift and update becomes TCK cycles on the design's boundary-scan inputs, and
// its chip select, SCK, MOSI and MISO pins drive a SpiFlash a byte at a time. Built only when
// Verilator was found at configure time.
#pragma once

#include <memory>

#include "sim/bscan.h"
#include "sim/spi_flash.h"

namespace vireo::sim {

// Whether this build carries the RTL bridge.
bool rtl_bridge_built();

// The RTL bridge on `flash`, as a fresh FPGA holds it after configuration; null when the build
// does not carry it.
std::unique_ptr<BscanUser> make_rtl_bridge(std::shared_ptr<SpiFlash> flash);

}  // namespace vireo::sim
