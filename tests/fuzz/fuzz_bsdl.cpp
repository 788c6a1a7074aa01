// Fuzz target: the BSDL reader on text in memory, and the pin model on what it builds.
#include "fuzz/devdb_checks.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vireo::fuzz::silence_messages();
    vireo::fuzz::expect_sound(vireo::fuzz::check_bsdl(data, size));
    return 0;
}
