#include "app/design_file.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vireo::app {
namespace {

std::string file_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Why a file cannot be read as a design, "" when it can. O_NONBLOCK keeps a FIFO from
// blocking the open; it is refused as not a regular file.
std::string unreadable_cause(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    return "";
}

}  // namespace

bool has_bit_extension(const std::string& path) {
    const std::string name = file_name(path);
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && strcasecmp(name.c_str() + dot, ".bit") == 0;
}

DesignFileCheck check_design_file(const std::string& path) {
    DesignFileCheck check;
    if (file_name(path).find('.') != std::string::npos) {
        if (!has_bit_extension(path)) {
            check.messages = {"Not bitstream file."};
            return check;
        }
    } else {
        check.messages = {"Bit file format error",
                          "Cannot read '" + path + "': the file name has no .bit extension"};
        return check;
    }
    if (const std::string cause = unreadable_cause(path); !cause.empty()) {
        check.messages = {"Bit file format error", "Cannot read '" + path + "': " + cause};
        return check;
    }
    check.ok = true;
    return check;
}

}  // namespace vireo::app
