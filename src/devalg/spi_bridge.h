// The SPI bridge entries: a bridge design in the FPGA answers USER2 with its descriptor and
// takes a 128-bit header there (bits 8-39 leading bits to skip, bits 40-71 bit count); USER1
// then carries the SPI stream, each byte most significant bit first.
#pragma once

#include <cstdint>

#include "jtag/devalg.h"

constexpr int kSpiDescriptorBytes = 16;

int spi_setup(DevAlgModule* module, int option);
// One transaction: write + read bytes leave from send (the last read of them while reading),
// read bytes arrive in receive. extra adds to the skip and the offsets (7-series with devices
// before the FPGA).
int spi_txrx(DevAlgModule* module, const uint8_t* send, uint8_t* receive, int write_count,
             int read_count, int write_only, int extra);
// Stores min(count, 16) descriptor bytes.
int spi_get_descr(DevAlgModule* module, int count, uint8_t* buffer);
