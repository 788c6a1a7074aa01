#include "formats/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vireo::formats {

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
