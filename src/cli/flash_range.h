// The flash command line's numbers: --offset and --size, both hexadecimal, and what they must
// give together before the board is touched.
#pragma once

#include <cstdint>
#include <string>

namespace vireo::cli {

// A hexadecimal number of at most 32 bits, with or without 0x ("" when it is one, else why not).
// `size`: the number is a byte count (--size), else an address (--offset).
std::string check_hex_number(const std::string& text, bool size);
// The value of a number check_hex_number accepted.
uint32_t parse_hex_number(const std::string& text);
// What --offset and --size (empty: not given) give together: "" or why the range cannot be read
// or erased from any flash (no bytes, or past the end of every address).
std::string flash_range_refusal(const std::string& offset, const std::string& size);

}  // namespace vireo::cli
