// The inputs that fuzzing found hostile to the file format readers: each must be read without a
// crash and with sound outputs (fill past the image, lengths within the buffer, terminated info).
#include <gtest/gtest.h>

#include "fuzz/format_checks.h"
#include "fuzz/regression_inputs.h"

namespace vireo::fuzz {
namespace {

TEST(FuzzRegressions, BitfileReader) {
    check_every_regression("bitfile", [](const auto& file) { return check_bitfile(file.c_str()); });
}

TEST(FuzzRegressions, IntelHexReader) {
    check_every_regression("hexfile", [](const auto& file) { return check_hexfile(file.c_str()); });
}

TEST(FuzzRegressions, SrecordReader) {
    check_every_regression("srecord", [](const auto& file) { return check_srecord(file.c_str()); });
}

}  // namespace
}  // namespace vireo::fuzz
