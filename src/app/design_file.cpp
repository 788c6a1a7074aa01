#include "app/design_file.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "formats/bitfile.h"
#include "formats/file_input.h"
#include "jtag/msg.h"

namespace vireo::app {
namespace {

std::string file_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr uint8_t reverse_bits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "XC7S50_CSGA324" -> "7s50": what a .bit header's part field starts with.
std::string header_part_prefix(const std::string& device_name) {
    std::string name = lower(device_name);
    if (name.starts_with("xc")) name.erase(0, 2);
    return name.substr(0, name.find('_'));
}

// The part of a header's part field without its package ("7a35tcpg236" -> "7a35t",
// "6slx9tqg144" -> "6slx9"): a digit, the family letters, the size, a T for the transceiver parts.
std::string part_without_package(const std::string& field) {
    const std::string text = lower(field);
    size_t i = 0;
    auto digits = [&] {
        const size_t from = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        return i > from;
    };
    if (!digits()) return text;
    const size_t letters = i;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    if (i == letters || !digits()) return text;
    if (i < text.size() && text[i] == 't' && text.compare(i, 3, "tqg") != 0) ++i;
    return text.substr(0, i);
}

// The configuration stream of a file as it lies in the file: a .bit file's image (the reader
// hands it bit-reversed), any other file's bytes. The .bit header's part field goes to *part.
std::vector<uint8_t> stream_of(const std::string& path, std::string* part) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size == 0 || size > (uint64_t{1} << 30)) return {};
    std::vector<uint8_t> data(size);
    if (has_bit_extension(path)) {
        std::array<char, 512> info{};
        int length = 0;
        if (bitfile_read(path.c_str(), data.data(), static_cast<int>(size), 0xFF, &length,
                         info.data(), static_cast<int>(info.size())) != 1)
            return {};
        data.resize(static_cast<size_t>(length));
        for (uint8_t& b : data) b = reverse_bits(b);
        // "Design name:%s Part:%s %s %s"
        const std::string text(info.data());
        const size_t at = text.find(" Part:");
        if (at != std::string::npos) *part = text.substr(at + 6, text.find(' ', at + 6) - at - 6);
        return data;
    }
    vireo::formats::FilePtr file = vireo::formats::open_input(path.c_str());
    if (!file || std::fread(data.data(), 1, data.size(), file.get()) != data.size()) return {};
    return data;
}

}  // namespace

uint32_t stream_idcode(const uint8_t* data, size_t size) {
    static constexpr uint8_t kSync[] = {0xAA, 0x99, 0x55, 0x66};
    static constexpr uint8_t kSeries7[] = {0x30, 0x01, 0x80, 0x01};
    static constexpr uint8_t kSpartan6[] = {0x31, 0xC2};
    const uint8_t* end = data + size;
    const uint8_t* sync = std::search(data, end, std::begin(kSync), std::end(kSync));
    if (sync == end) return 0;
    auto word_after = [end](const uint8_t* at, size_t skip) -> uint32_t {
        if (at == end || end - at < static_cast<ptrdiff_t>(skip + 4)) return 0;
        at += skip;
        return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
    };
    if (const uint32_t id =
            word_after(std::search(sync, end, std::begin(kSeries7), std::end(kSeries7)), 4))
        return id;
    // Spartan-6 packets are 16-bit words, aligned to the sync word.
    for (const uint8_t* at = sync + 4; end - at >= 6; at += 2) {
        if (std::equal(std::begin(kSpartan6), std::end(kSpartan6), at)) return word_after(at, 2);
    }
    return 0;
}

std::string design_part_refusal(const std::string& path, const std::string& device_name,
                                uint32_t device_idcode) {
    std::string part;
    const std::vector<uint8_t> stream = stream_of(path, &part);
    const std::string name = shown_text(file_name(path));
    const std::string prefix = header_part_prefix(device_name);
    if (!part.empty() && !prefix.empty() && !lower(part).starts_with(prefix))
        return name + " is for xc" + part_without_package(part) + ", the device is " + device_name;
    const uint32_t id = stream_idcode(stream.data(), stream.size());
    if (id != 0 && device_idcode != 0 && (id & 0x0FFFFFFF) != (device_idcode & 0x0FFFFFFF)) {
        char text[160];
        std::snprintf(text, sizeof text, " is for the IDCODE 0x%08X, the device %s has 0x%08X", id,
                      device_name.c_str(), device_idcode);
        return name + text;
    }
    return "";
}

bool has_bit_extension(const std::string& path) {
    const std::string name = file_name(path);
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && strcasecmp(name.c_str() + dot, ".bit") == 0;
}

DesignFileCheck check_design_file(const std::string& path) {
    DesignFileCheck check;
    if (file_name(path).find('.') != std::string::npos) {
        if (!has_bit_extension(path)) {
            check.messages = {"Not bitstream file."};
            return check;
        }
    } else {
        check.messages = {"Bit file format error", "Cannot read '" + shown_text(path) +
                                                       "': the file name has no .bit extension"};
        return check;
    }
    if (const std::string cause = vireo::formats::input_problem(path.c_str()); !cause.empty()) {
        check.messages = {"Bit file format error",
                          "Cannot read '" + shown_text(path) + "': " + cause};
        return check;
    }
    // The whole file, before anything reaches the FPGA: a cut or damaged one would stop the
    // configuration half-way, after Shutdown has cleared the running design.
    if (const std::string cause = bitfile_problem(path.c_str()); !cause.empty()) {
        check.messages = {"Bit file format error", shown_text(file_name(path)) + ": " + cause};
        return check;
    }
    check.ok = true;
    return check;
}

}  // namespace vireo::app
