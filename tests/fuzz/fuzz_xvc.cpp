// Fuzz target: the XVC command reader, one input as the byte stream of one connection.
#include "fuzz/fuzz_input.h"
#include "fuzz/xvc_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vireo::fuzz::expect_sound(vireo::fuzz::check_xvc_reader(data, size));
    return 0;
}
