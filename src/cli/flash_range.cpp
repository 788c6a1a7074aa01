#include "cli/flash_range.h"

#include <cstdio>

namespace vireo::cli {
namespace {

// The digits of a hexadecimal number, without 0x and leading zeros ("" for no number at all).
bool hex_digits(const std::string& text, std::string* digits) {
    std::string d = text;
    if (d.starts_with("0x") || d.starts_with("0X")) d = d.substr(2);
    if (d.empty() || d.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    const size_t first = d.find_first_not_of('0');
    *digits = first == std::string::npos ? "0" : d.substr(first);
    return true;
}

}  // namespace

std::string check_hex_number(const std::string& text, bool size) {
    std::string digits;
    if (!hex_digits(text, &digits)) {
        return size ? "not a hexadecimal byte count: '" + text +
                          "' (hexadecimal, no unit: 10000 is 64 KB)"
                    : "not a hexadecimal address: '" + text + "'";
    }
    if (digits.size() > 8) {
        return "0x" + digits +
               (size ? " bytes: more than any flash holds (the largest holds 32 MB, 0x2000000 "
                       "bytes)"
                     : " lies past the end of every flash (the largest holds 32 MB: addresses "
                       "0 to 0x1FFFFFF)");
    }
    return "";
}

uint32_t parse_hex_number(const std::string& text) {
    std::string digits;
    hex_digits(text, &digits);
    return static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
}

std::string flash_range_refusal(const std::string& offset, const std::string& size) {
    if (size.empty()) return "";
    const uint64_t at = parse_hex_number(offset), count = parse_hex_number(size);
    if (count == 0) return "--size 0: no bytes to work on; give at least 1";
    if (at + count > uint64_t{1} << 32) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "--offset 0x%llX --size 0x%llX: the range ends past 0xFFFFFFFF, the highest "
                      "address (the largest flash ends at 0x1FFFFFF)",
                      static_cast<unsigned long long>(at), static_cast<unsigned long long>(count));
        return text;
    }
    return "";
}

}  // namespace vireo::cli
