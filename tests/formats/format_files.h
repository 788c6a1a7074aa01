// Fixture of the file format tests: a private temporary directory for the files under test and
// the message collector installed as the print callback.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jtag/msg.h"
#include "support/printed.h"

namespace vireo::test {

class FormatFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_print_callback(collect_print);
        printed().clear();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               ("vireo_formats_" + std::to_string(::getpid()) + "_" + info->test_suite_name() +
                "_" + info->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Writes bytes to a file in the test directory and returns its path.
    std::string file(const std::string& name, const std::string& bytes) const {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::string read(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path dir_;
};

inline std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// Bit k of the result is bit 7 - k of b.
inline uint8_t mirrored(uint8_t b) {
    uint8_t r = 0;
    for (int k = 0; k < 8; ++k)
        if (b & (1 << k)) r |= static_cast<uint8_t>(0x80 >> k);
    return r;
}

}  // namespace vireo::test
