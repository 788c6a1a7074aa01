// Fuzz target: the bb description record reader. It parses a file image already in memory, so
// the input goes to it directly as a whole bb file holding one record.
#include "fuzz/devdb_checks.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vireo::fuzz::silence_messages();
    vireo::fuzz::expect_sound(vireo::fuzz::check_bb(data, size));
    return 0;
}
