// BSDL reader: builds a DeviceDescription from a Boundary-Scan Description Language file (the
// subset FPGA and CPLD vendor files use: entity header, port list, PIN_MAP_STRING, instruction,
// IDCODE and boundary-register attributes, design warnings). Format errors are reported through
// the message sink with file and line, and reading goes on; the description is built from what
// was collected.
#pragma once

#include <cstddef>

#include "devdb/devdesc.h"

// Table limits of one reading. Anything beyond them is refused or cut with a message naming the
// file and line; nothing is written past a table.
constexpr int kBsdlMaxToken = 2559;
constexpr int kBsdlMaxInstructions = 2560;
constexpr int kBsdlMaxCapture = 99;
constexpr int kBsdlMaxPins = 5000;
constexpr int kBsdlMaxBuses = 5000;
constexpr int kBsdlMaxWarnings = 100;
constexpr int kBsdlMaxIdcode = 32;
// Boundary registers longer than a control-cell number can name are refused.
constexpr int kBsdlMaxBoundaryLength = 32767;
// Files larger than this are not BSDL descriptions of one part.
constexpr size_t kBsdlMaxFileSize = 64u << 20;

// The description of the file's entity; null when the file cannot be opened (no message) or no
// entity name was read. Release it with devdesc_free.
DeviceDescription* bsdl_read(const char* path);
// The same reading on text already in memory; `path` names it in the messages.
DeviceDescription* bsdl_parse(const char* text, size_t size, const char* path);

// Prints the description through the message sink ("Can not open bsdl file" for null).
void bsdl_dump(const DeviceDescription* description);
