// How much of the log the terminal shows, and the full log file (--log) that keeps every line
// whatever the terminal shows.
#pragma once

#include <cstdio>
#include <string>

namespace vireo::cli {

enum class Verbosity {
    Quiet,    // the verdict; the lines that say why when a command fails
    Normal,   // what was found, one progress bar per phase, the verdict and its reason
    Verbose,  // every line as the log has it: dated, each page and sector, the diagnostics
};

// A log line without the date and time the log puts in front ("2026/12/07 20:45:12  "); any
// other line as it is.
std::string undated(const std::string& line);

// The file --log names: opened for appending (created when missing), one line per write,
// flushed at once so that a cut run leaves every line before the cut.
class LogFile {
  public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // False with the reason when the file cannot be opened for writing.
    bool open(const std::string& path, std::string* reason);
    bool is_open() const { return file_ != nullptr; }
    // One line (a line end is added); text from outside is escaped as on the terminal.
    void write(const std::string& line);

  private:
    std::FILE* file_ = nullptr;
};

}  // namespace vireo::cli
