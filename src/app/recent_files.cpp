#include "app/recent_files.h"

#include <algorithm>
#include <cctype>

namespace vireo::app {

bool same_name_ignoring_case(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

std::vector<std::string> recent_after_choice(std::vector<std::string> entries,
                                             const std::string& chosen) {
    entries.resize(kRecentFiles);
    if (chosen.empty()) return entries;
    const auto earlier = std::find_if(entries.begin(), entries.end(), [&](const std::string& e) {
        return same_name_ignoring_case(e, chosen);
    });
    if (earlier != entries.end()) entries.erase(earlier);
    entries.insert(entries.begin(), chosen);
    entries.resize(kRecentFiles);
    return entries;
}

}  // namespace vireo::app
