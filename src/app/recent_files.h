// The list of recently used design files: ten entries, the most recent first, a file named
// twice (in any letter case) kept once.
#pragma once

#include <string>
#include <vector>

namespace vireo::app {

inline constexpr int kRecentFiles = 10;

// The list after `chosen` was picked: its earlier entry (compared without regard to letter
// case) is dropped and it goes to the front; the list keeps kRecentFiles entries, padded with
// empty ones. An empty name leaves the list as it is: it names no file to remember.
std::vector<std::string> recent_after_choice(std::vector<std::string> entries,
                                             const std::string& chosen);

// True when the two names differ at most in the letter case of their ASCII letters.
bool same_name_ignoring_case(const std::string& a, const std::string& b);

}  // namespace vireo::app
