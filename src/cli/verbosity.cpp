#include "cli/verbosity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/host.h"
#include "jtag/msg.h"

namespace vireo::cli {
namespace {

// "YYYY/MM/DD HH:MM:SS  ": digits where the pattern has 9.
constexpr char kDatePattern[] = "9999/99/99 99:99:99  ";
constexpr size_t kDateLength = sizeof kDatePattern - 1;

}  // namespace

std::string undated(const std::string& line) {
    if (line.size() <= kDateLength) return line;
    for (size_t i = 0; i < kDateLength; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (kDatePattern[i] == '9' ? !digit : line[i] != kDatePattern[i]) return line;
    }
    return line.substr(kDateLength);
}

LogFile::~LogFile() {
    if (file_) std::fclose(file_);
}

bool LogFile::open(const std::string& path, std::string* reason) {
    // Appending never truncates what an earlier run (or another file of that name) holds.
    path_ = path;
    file_ = std::fopen(path.c_str(), "a");
    if (!file_ && reason) *reason = std::strerror(errno);
    return file_ != nullptr;
}

void LogFile::write(const std::string& line) {
    // Blank lines only separate groups on a terminal; a dated file needs none.
    if (!file_ || line.find_first_not_of(' ') == std::string::npos) return;
    // Lines the terminal shows without a date (verdicts, questions, diagnostics) get one here,
    // so that every line of the file says when it happened.
    const std::string dated =
        undated(line) == line ? app::log_line(line, std::time(nullptr)) : line;
    const std::string text = shown_text(dated, true) + '\n';
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0)
        lost_ = true;
}

bool standard_output_lost() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return false;
    struct stat st {};
    return ::fstat(STDOUT_FILENO, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

}  // namespace vireo::cli
