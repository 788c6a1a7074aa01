// Fixture of the file format tests: a private temporary directory and the message collector.
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
        dir_ = std::filesystem::temp_directory_path() /
               ("vireo_formats_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string file(const std::string& name, const std::string& content) const {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path dir_;
};

// Bit k of the result is bit 7 - k of b.
inline uint8_t mirrored(uint8_t b) {
    uint8_t r = 0;
    for (int k = 0; k < 8; ++k) r |= static_cast<uint8_t>(((b >> k) & 1) << (7 - k));
    return r;
}

}  // namespace vireo::test
