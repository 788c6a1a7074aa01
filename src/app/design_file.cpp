#include "app/design_file.h"

#include <stdlib.h>
#include <strings.h>

#include <algorithm>
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
    uint64_t from = 0, length = size;
    if (has_bit_extension(path)) {
        // Only the image the header declares, as it lies in the file.
        BitfileSummary bit;
        if (!bitfile_problem(path.c_str(), &bit).empty()) return {};
        *part = bit.part;
        from = bit.header;
        length = bit.declared;
    }
    std::vector<uint8_t> data(length);
    vireo::formats::FilePtr file = vireo::formats::open_input(path.c_str());
    if (!file || std::fseek(file.get(), static_cast<long>(from), SEEK_SET) != 0 ||
        std::fread(data.data(), 1, data.size(), file.get()) != data.size())
        return {};
    return data;
}

}  // namespace

StreamFacts stream_facts(const uint8_t* data, size_t size, bool spartan6) {
    static constexpr uint8_t kSync[] = {0xAA, 0x99, 0x55, 0x66};
    const uint8_t* end = data + size;
    const uint8_t* at = std::search(data, end, std::begin(kSync), std::end(kSync));
    StreamFacts facts;
    if (at == end) return facts;
    at += 4;
    auto word = [end](const uint8_t* p, int bytes) {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | (p + i < end ? p[i] : 0);
        return value;
    };
    // Packets: type 1 names its register and word count, type 2 carries a long count for the
    // register of the type 1 before it. Words of any other type (dummies, NOOP fill) are skipped.
    const int unit = spartan6 ? 2 : 4;
    const uint64_t idcode_register = spartan6 ? 0x0E : 0x0C;
    const uint64_t cmd_register = spartan6 ? 0x05 : 0x04;
    constexpr uint64_t kDesync = 0x0D;
    constexpr uint64_t kSpartan6Fdri = 0x03;
    const uint64_t idcode_units = spartan6 ? 2 : 1;
    uint64_t last_register = UINT64_MAX;
    while (end - at >= unit) {
        const uint64_t header = word(at, unit);
        at += unit;
        const uint64_t type = header >> (spartan6 ? 13 : 29);
        const uint64_t op = header >> (spartan6 ? 11 : 27) & 3;
        uint64_t count = 0;
        if (type == 1) {
            last_register = spartan6 ? header >> 5 & 0x3F : header >> 13 & 0x3FFF;
            count = spartan6 ? header & 0x1F : header & 0x7FF;
        } else if (type == 2 && spartan6) {
            // Its own register field, then a 32-bit count; an FDRI burst is followed by two
            // half-words of auto-CRC that are no packet.
            last_register = header >> 5 & 0x3F;
            count = word(at, 4) + (last_register == kSpartan6Fdri ? 2 : 0);
            at += std::min<ptrdiff_t>(4, end - at);
        } else if (type == 2) {
            count = header & 0x7FFFFFF;
        } else {
            continue;
        }
        const uint64_t left = static_cast<uint64_t>(end - at) / unit;
        if (op == 2 && last_register == idcode_register && count >= idcode_units &&
            left >= idcode_units)
            facts.idcodes.push_back(
                static_cast<uint32_t>(word(at, unit * static_cast<int>(idcode_units))));
        if (op == 2 && last_register == cmd_register && count >= 1 && left >= 1 &&
            word(at, unit) == kDesync)
            facts.desync = true;
        if (count > left) break;
        at += count * unit;
    }
    return facts;
}

bool bitstream_complete(const std::string& path) {
    if (!bitfile_problem(path.c_str()).empty()) return false;
    std::string part;
    const std::vector<uint8_t> stream = stream_of(path, &part);
    return stream_facts(stream.data(), stream.size(), false).desync ||
           stream_facts(stream.data(), stream.size(), true).desync;
}

std::string design_part_refusal(const std::string& path, const std::string& device_name,
                                uint32_t device_idcode, bool need_idcode) {
    std::string part;
    const std::vector<uint8_t> stream = stream_of(path, &part);
    const std::string name = shown_text(file_name(path));
    const std::string prefix = header_part_prefix(device_name);
    if (!part.empty() && !prefix.empty() && !lower(part).starts_with(prefix))
        return name + " is for xc" + part_without_package(part) + ", the device is " + device_name;
    const bool spartan6 = lower(device_name).starts_with("xc6s");
    const StreamFacts facts = stream_facts(stream.data(), stream.size(), spartan6);
    for (const uint32_t id : facts.idcodes) {
        if (device_idcode == 0 || (id & 0x0FFFFFFF) == (device_idcode & 0x0FFFFFFF)) continue;
        char text[160];
        std::snprintf(text, sizeof text, " is for the IDCODE 0x%08X, the device %s has 0x%08X", id,
                      device_name.c_str(), device_idcode);
        return name + text;
    }
    // The FPGA refuses frame data before an IDCODE check has matched it, and a stream that
    // never reaches its DESYNC command was cut (or written only in part).
    if (need_idcode && facts.idcodes.empty())
        return name + " writes no IDCODE into the configuration logic, so the device " +
               device_name + " would refuse its frames";
    if (need_idcode && !facts.desync)
        return name + " holds no whole configuration: its stream ends before the DESYNC command";
    return "";
}

DesignSnapshot::DesignSnapshot(const std::string& path) {
    BitfileSummary bit;
    if (std::string why = bitfile_problem(path.c_str(), &bit); !why.empty()) {
        problem_ = std::move(why);
        return;
    }
    std::error_code error;
    std::string folder = (std::filesystem::temp_directory_path(error) / "vireo-XXXXXX").string();
    if (error || !::mkdtemp(folder.data())) {
        problem_ = "no private folder for a copy of the file";
        return;
    }
    folder_ = folder;
    const std::string copy = (std::filesystem::path(folder_) / file_name(path)).string();
    vireo::formats::FilePtr in = vireo::formats::open_input(path.c_str());
    FILE* out = in ? std::fopen(copy.c_str(), "wb") : nullptr;
    uint64_t left = bit.header + bit.declared;
    std::vector<char> buffer(1 << 16);
    while (out && left > 0) {
        const size_t n =
            std::fread(buffer.data(), 1, std::min<uint64_t>(buffer.size(), left), in.get());
        if (n == 0 || std::fwrite(buffer.data(), 1, n, out) != n) break;
        left -= n;
    }
    const bool written = out && left == 0 && std::fclose(out) == 0;
    if (out && !written && left > 0) std::fclose(out);
    if (!written) {
        problem_ = "the file changed while it was read";
        return;
    }
    copy_ = copy;
}

DesignSnapshot::~DesignSnapshot() {
    std::error_code error;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
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
