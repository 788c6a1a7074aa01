// skprb: the cable driver of the maker's USB 3.0 boards (FX3 with the JTAG firmware). Turns the
// seven driver slots into "TK" command packets sent through the FX3 component. The cable layer
// reaches it through its driver table; other hosts load the C entry points of
// include/vireojtag/skprb.h from libvireo_skprb.so, with a C record of the cable of their own.
#pragma once

#include "cables/cable.h"
#include "vireojtag/skprb.h"

// The driver table the cable layer fills for the name "skprb".
const CableDriver* skprb_driver();
