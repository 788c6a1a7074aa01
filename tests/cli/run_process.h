// Runs a program as a child process with its own environment, collects what it prints, and
// ends it when it overruns its time.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vireo::test {

struct ProcessResult {
    int exit_code = -1;  // -1 when it did not exit normally
    int signal = 0;      // the signal that ended it, 0 when none
    bool timed_out = false;
    std::string out;  // standard output
    std::string err;  // standard error
};

struct ProcessOptions {
    std::vector<std::string> env;  // the whole environment, "NAME=value"
    // Standard output is closed after this many lines (a reader that goes away, as
    // `| head -1` does); 0 reads it all.
    int stdout_lines = 0;
    std::chrono::seconds bound{120};
};

// Standard input is /dev/null.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const ProcessOptions& options);

}  // namespace vireo::test
