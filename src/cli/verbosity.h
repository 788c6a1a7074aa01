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
    // One line, dated when it is not yet (a line end is added); text from outside is escaped as
    // on the terminal.
    void write(const std::string& line);
    // Whether a line could not be written (a full disk, a device that refuses it).
    bool lost() const { return lost_; }
    const std::string& path() const { return path_; }

  private:
    std::FILE* file_ = nullptr;
    std::string path_;
    bool lost_ = false;
};

// Whether what the run wrote on standard output did not all reach it (a full disk, a closed
// standard output). A pipe whose reader has gone (vireo ... | head -1) is the reader's choice and
// does not count.
bool standard_output_lost();

}  // namespace vireo::cli
