// The inputs that fuzzing found hostile to the device database readers: each must be read
// without a crash, and what is built from it must hold together.
#include <gtest/gtest.h>

#include "fuzz/devdb_checks.h"
#include "fuzz/regression_inputs.h"

namespace vireo::fuzz {
namespace {

TEST(FuzzRegressions, SystemBixReader) {
    check_every_regression("bix", [](const auto& file) { return check_bix(file.c_str()); });
}

TEST(FuzzRegressions, BbRecordReader) {
    check_every_regression("bb", [](const auto& file) {
        const std::vector<uint8_t> bytes = file_bytes(file);
        return check_bb(bytes.data(), bytes.size());
    });
}

TEST(FuzzRegressions, BsdlReader) {
    check_every_regression("bsdl", [](const auto& file) {
        const std::vector<uint8_t> bytes = file_bytes(file);
        return check_bsdl(bytes.data(), bytes.size());
    });
}

TEST(FuzzRegressions, DeviceIndexReader) {
    check_every_regression("devindex",
                           [](const auto& file) { return check_devindex(file.c_str()); });
}

}  // namespace
}  // namespace vireo::fuzz
