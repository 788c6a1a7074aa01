// File access shared by the format readers: opening only regular files, and reading text lines
// with a length limit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace vireo::formats {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens a regular file for reading. Directories, devices and FIFOs count as unopenable, so a
// reader never blocks on a pipe or reads an endless device.
FilePtr open_input(const char* path);

// Why path cannot be read as an input file, in a few words ("not found", "is a directory", "not
// a regular file", "permission denied", "is empty"); "" when it can. Never blocks on a FIFO.
std::string input_problem(const char* path);

// Why a file cannot be written at path, "" when it can: its folder is missing or not writable,
// or path is a directory or a file that cannot be replaced.
std::string output_problem(const char* path);

enum class LineRead { Line, TooLong, End };

// Reads the next line (without its "\n" or "\r\n") into line. A line of more than limit
// characters is consumed to its end and reported as TooLong, never split.
LineRead read_line(FILE* file, std::string& line, int limit);

// Value of the hexadecimal pair at text[pos], pos + 1; -1 when either is not a hex digit or lies
// beyond the text.
int hex_pair(const std::string& text, size_t pos);

}  // namespace vireo::formats
