#include "devdb/devlist.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <string_view>

#include "jtag/msg.h"

namespace {

const char* or_empty(const char* text) {
    return text ? text : "";
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// Splits an index line into at most five fields: the first ends at a tab, comma or blank, the
// others at a tab or comma (blanks belong to them).
std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t pos = 0;
    while (fields.size() < 5 && pos <= line.size()) {
        const char* ends = fields.empty() ? "\t, " : "\t,";
        size_t end = line.find_first_of(ends, pos);
        if (end == std::string::npos) end = line.size();
        fields.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

bool name_with_suffix(std::string_view part_name, const char* name) {
    if (!name) return false;
    std::string_view asked(name);
    return part_name.size() > asked.size() && part_name[asked.size()] == '_' &&
           iequals(part_name.substr(0, asked.size()), asked);
}

bool selected(int64_t selector, const char* name, const std::string& part_name, uint32_t idcode,
              uint32_t mask) {
    if (selector == kDevIndexByName) return name && iequals(part_name, name);
    if (selector == kDevIndexAll) return true;
    const uint32_t wanted = static_cast<uint32_t>(selector);
    return (idcode & mask) == (wanted & mask) || name_with_suffix(part_name, name);
}

// Reads one line; a line over the limit is consumed whole and reported as too long.
bool read_line(std::istream& in, std::string& line, bool& too_long) {
    if (!std::getline(in, line)) return false;
    too_long = line.size() > static_cast<size_t>(kDevIndexLineLimit);
    // Text after a zero byte is not part of a line of text.
    line.resize(std::min(line.size(), line.find('\0')));
    return true;
}

std::string trimmed(std::string line) {
    trim_text(line.data());
    line.resize(std::char_traits<char>::length(line.c_str()));
    return line;
}

}  // namespace

DeviceList* devlist_new() {
    return std::make_unique<DeviceList>().release();
}

void devlist_add(DeviceList* list, const char* manufacturer, const char* part_name, const char* key,
                 const char* third, uint32_t idcode, uint32_t mask) {
    if (!list) return;
    if (static_cast<int>(list->entries.size()) == list->capacity) list->capacity *= 2;
    list->entries.reserve(list->capacity);
    list->entries.push_back({or_empty(manufacturer), or_empty(part_name), or_empty(key),
                             or_empty(third), idcode, mask});
}

int devlist_count(const DeviceList* list) {
    return list ? static_cast<int>(list->entries.size()) : 0;
}

const char* devlist_name(const DeviceList* list, int index) {
    if (index < 0 || index >= devlist_count(list)) return "";
    return list->entries[index].part_name.c_str();
}

const char* devlist_key(const DeviceList* list, int index) {
    if (index < 0 || index >= devlist_count(list)) return "";
    return list->entries[index].key.c_str();
}

void devlist_free(DeviceList* list) {
    std::unique_ptr<DeviceList> owned(list);
}

DeviceList* devlist_read_index(const char* path, int64_t selector, const char* name) {
    if (!path) return nullptr;
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;

    auto list = std::make_unique<DeviceList>();
    std::string manufacturer;
    std::string raw;
    bool header_seen = false;
    bool too_long = false;
    int line_number = 0;
    while (read_line(in, raw, too_long)) {
        ++line_number;
        if (too_long) {
            msg_print("Device index file: line %d is longer than %d characters, ignored.\n",
                      line_number, kDevIndexLineLimit);
            continue;
        }
        const std::string line = trimmed(raw);
        if (line.empty()) continue;
        if (!header_seen) {
            if (!iequals(line, "#DEVINDEX V1.1")) {
                msg_print("Device index file format is obsolete.[%s]", line.c_str());
                return nullptr;
            }
            header_seen = true;
            continue;
        }
        if (line[0] == '#') continue;

        const std::vector<std::string> fields = split_fields(line);
        if (fields[0].empty()) break;
        auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::string(); };
        if (fields[0][0] == '@') {
            if (iequals(fields[0], "@MANUFACTURE")) manufacturer = field(1);
            continue;
        }
        const uint32_t idcode = hex_value(fields[0].c_str());
        if (idcode == 0) continue;
        const uint32_t mask = hex_value(field(1).c_str()) & 0x0FFFFFFF;
        const std::string part_name = field(3);
        if (selected(selector, name, part_name, idcode, mask)) {
            devlist_add(list.get(), manufacturer.c_str(), part_name.c_str(), field(2).c_str(),
                        field(4).c_str(), idcode, mask);
        }
    }
    return list.release();
}

PackageClass package_classify(const char* package) {
    PackageClass result;
    if (!package) {
        result.name = "NONE";
        return result;
    }
    std::string text(package);
    // Pin count: the last run of decimal digits.
    const size_t last_digit = text.find_last_of("0123456789");
    if (last_digit != std::string::npos) {
        size_t first = last_digit;
        while (first > 0 && std::isdigit(static_cast<unsigned char>(text[first - 1]))) --first;
        const std::string digits = text.substr(first, last_digit - first + 1);
        result.pins = static_cast<int>(
            std::min<unsigned long long>(std::stoull(digits.substr(0, 18)), 0x7FFFFFFF));
    }
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    static constexpr std::pair<const char*, const char*> kMarkers[] = {
        {"FBGA", "BGA"}, {"PC20", "DIP"}, {"PLCC", "PLCC"}, {"F256", "BGA"}, {"FT256", "BGA"},
        {"BGA", "BGA"},  {"QFP", "QFP"},  {"BG", "BGA"},    {"PC", "PLCC"},  {"TQ", "QFP"},
        {"VQ", "QFP"},   {"VO20", "SOP"}, {"VO48", "SOP"},  {"PQ", "QFP"},   {"HT", "QFP"},
        {"HQ", "QFP"},   {"CP", "BGA"},   {"SF", "BGA"},    {"CS", "BGA"},   {"FG", "BGA"},
        {"SO", "SOP"},   {"FF", "BGA"},   {"FS", "BGA"},    {"BF", "BGA"},   {"L", "PLCC"},
        {"T", "QFP"},
    };
    result.name = "UNKNOWN";
    for (const auto& [marker, cls] : kMarkers) {
        if (text.find(marker) != std::string::npos) {
            result.name = cls;
            break;
        }
    }
    if (result.name != "UNKNOWN") result.side_pins_x = result.side_pins_y = result.pins / 4;
    return result;
}
