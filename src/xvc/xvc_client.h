// The cable driver "xvc": a JTAG cable that is an XVC 1.0 server on the network (our own
// `vireo xvc`, the FPGA maker's servers, FTDI- and Raspberry-Pi-based ones). TAP walks, scans and
// run-test clocks become TMS/TDI vectors; what nobody reads goes out back to back, and only a
// scan whose TDO is needed waits for the server's answer.
#pragma once

#include <cstdint>
#include <string>

#include "cables/cable.h"

namespace vireo::xvc {

inline constexpr char kXvcClientDriver[] = "xvc";

// Reads "HOST", "HOST:PORT" or "[IPV6]:PORT" (port 2542 when none is given). Empty on success,
// otherwise why the text is not an endpoint.
std::string xvc_parse_endpoint(const std::string& text, std::string* host, uint16_t* port);
// The driver's open parameter: the endpoint as the user wrote it, and the TCK to ask the server
// for (0: leave the server's TCK alone).
std::string xvc_client_param(const std::string& endpoint, uint32_t tck_hz);

const CableDriver* xvc_client_driver();

}  // namespace vireo::xvc
