// Fuzz target: the device database index (system.bix) reader, one input per file.
#include "fuzz/devdb_checks.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vireo::fuzz::silence_messages();
    vireo::fuzz::expect_sound(vireo::fuzz::check_bix(vireo::fuzz::input_file(data, size)));
    return 0;
}
