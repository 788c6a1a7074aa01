#include "formats/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vireo::formats {

std::string input_problem(const char* path) {
    if (!path || !*path) return "no file name";
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused as not a regular file.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "not found";
        if (errno == EACCES || errno == EPERM) return "permission denied";
        if (errno == EISDIR) return "is a directory";
        return std::strerror(errno);
    }
    struct stat st {};
    const int stat_error = ::fstat(fd, &st) != 0 ? errno : 0;
    ::close(fd);
    if (stat_error) return std::strerror(stat_error);
    if (S_ISDIR(st.st_mode)) return "is a directory";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (st.st_size == 0) return "is empty";
    return "";
}

FilePtr open_input(const char* path) {
    if (!path || !*path) return nullptr;
    // O_NONBLOCK keeps open() from waiting for the writer of a FIFO; it is refused below anyway.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* f = ::fdopen(fd, "rb");
    if (!f) ::close(fd);
    return FilePtr(f);
}

std::string output_problem(const char* path) {
    if (!path || !*path) return "no file name";
    struct stat st {};
    if (::stat(path, &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "is a directory";
        if (!S_ISREG(st.st_mode)) return "not a regular file";
    }
    // The file is written beside itself and renamed: its folder must take new files.
    std::string folder = path;
    const size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "no such folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return "the folder is not writable";
    return "";
}

LineRead read_line(FILE* file, std::string& line, int limit) {
    line.clear();
    const size_t keep = static_cast<size_t>(limit) + 1;  // room for a trailing '\r'
    int64_t count = 0;
    int c = std::getc(file);
    if (c == EOF) return LineRead::End;
    for (; c != EOF && c != '\n'; c = std::getc(file)) {
        if (line.size() <= keep) line.push_back(static_cast<char>(c));
        ++count;
    }
    if (!line.empty() && line.back() == '\r' && count <= limit + 1) {
        line.pop_back();
        --count;
    }
    return count > limit ? LineRead::TooLong : LineRead::Line;
}

namespace {
int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

int hex_pair(const std::string& text, size_t pos) {
    if (pos + 2 > text.size()) return -1;
    const int hi = hex_digit(text[pos]);
    const int lo = hex_digit(text[pos + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

}  // namespace vireo::formats
