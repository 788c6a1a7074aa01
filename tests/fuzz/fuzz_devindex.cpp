// Fuzz target: the device index text file reader, one input per file.
#include "fuzz/devdb_checks.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vireo::fuzz::silence_messages();
    vireo::fuzz::expect_sound(vireo::fuzz::check_devindex(vireo::fuzz::input_file(data, size)));
    return 0;
}
