// What the fuzz targets share: a message sink that discards (a run prints nothing but the
// fuzzer's own statistics), the file the path-taking readers read each input from, and the
// verdict on a check.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "jtag/msg.h"

namespace vireo::fuzz {

inline void silence_messages() {
    static const PrintCallback installed =
        set_print_callback([](const char*, va_list) { return 0; });
    (void)installed;
}

// One temporary file per process, rewritten for every input and removed at exit.
class InputFile {
  public:
    InputFile() {
        path_ = (std::filesystem::temp_directory_path() / "vireo_fuzz_XXXXXX").string();
        fd_ = ::mkstemp(path_.data());
        if (fd_ < 0) {
            std::perror("fuzz input file");
            std::abort();
        }
    }
    ~InputFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Writes first and then cuts the file to size: truncating to zero before every write would
    // make some file systems (ext4 with discard) free and reclaim blocks each time, 100x slower.
    const char* write(const uint8_t* data, size_t size) {
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) fail();
            done += static_cast<size_t>(n);
        }
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) fail();
        return path_.c_str();
    }

  private:
    [[noreturn]] static void fail() {
        std::perror("fuzz input file");
        std::abort();
    }

    std::string path_;
    int fd_ = -1;
};

// The path of a file holding exactly data[0..size).
inline const char* input_file(const uint8_t* data, size_t size) {
    static InputFile file;
    return file.write(data, size);
}

// A failed check is a finding: the fuzzer saves the input that led to the abort.
inline void expect_sound(const std::string& problem) {
    if (problem.empty()) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", problem.c_str());
    std::abort();
}

}  // namespace vireo::fuzz
