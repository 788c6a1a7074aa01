// The inputs that once made a fuzz target fail, kept in tests/fuzz/regressions/<parser>/, for
// the regression tests of the normal build. A new finding becomes a test by dropping its input
// there.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jtag/msg.h"
#include "support/printed.h"

namespace vireo::fuzz {

// Every file of regressions/<parser>/, in name order; this header lies beside that folder.
inline std::vector<std::filesystem::path> regression_inputs(const std::string& parser) {
    const auto dir = std::filesystem::path(__FILE__).parent_path() / "regressions" / parser;
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

inline std::vector<uint8_t> file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Feeds every input of regressions/<parser>/ to check(path); each must come back sound ("").
template <typename Check>
void check_every_regression(const std::string& parser, Check check) {
    set_print_callback(vireo::test::collect_print);
    const auto files = regression_inputs(parser);
    ASSERT_FALSE(files.empty()) << "no inputs in tests/fuzz/regressions/" << parser;
    for (const auto& file : files) EXPECT_EQ(check(file), "") << file;
}

}  // namespace vireo::fuzz
