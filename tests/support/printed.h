// Collects everything the library prints through the message sink, for tests that check texts.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace vireo::test {

inline std::string& printed() {
    static std::string text;
    return text;
}

inline int collect_print(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line(n > 0 ? n : 0, '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, args);
    printed() += line;
    return n;
}

}  // namespace vireo::test
