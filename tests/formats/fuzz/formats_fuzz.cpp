// libFuzzer target for the three readers: the input becomes a file, each reader runs over it
// with a buffer size taken from the first input byte. Not part of the default build:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I src \
//     tests/formats/fuzz/formats_fuzz.cpp src/formats/*.cpp src/jtag/msg.cpp -o formats_fuzz
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/bitfile.h"
#include "formats/hexfile.h"
#include "jtag/msg.h"

namespace {
int quiet(const char*, va_list) { return 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    set_print_callback(quiet);
    static const std::string path = "/tmp/vireo_formats_fuzz_" + std::to_string(::getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    const int n = size ? data[0] : 0;
    std::vector<uint8_t> buffer(n);  // exact size, so the sanitizer sees any overrun
    int64_t length = 0, base = size > 1 ? data[1] : 0, highest = 0, start = 0;
    int bit_length = 0;
    char info[16];
    hexfile_read(path.c_str(), buffer.data(), n, 0xFF, &length, nullptr, 0);
    srecord_read(path.c_str(), buffer.data(), n, 0xFF, &base, &highest, &start, info, sizeof info);
    bitfile_read(path.c_str(), buffer.data(), n, 0, &bit_length, info, sizeof info);
    return 0;
}
