#include "app/file_watch.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "app/design_file.h"

namespace vireo::app {
namespace fs = std::filesystem;
namespace {

std::optional<fs::file_time_type> readable_stamp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::error_code ec;
    const auto stamp = fs::last_write_time(path, ec);
    if (ec) return std::nullopt;
    return stamp;
}

std::optional<std::uintmax_t> file_size(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return size;
}

}  // namespace

std::optional<std::string> file_timestamp_text(const std::string& path) {
    std::error_code ec;
    const auto stamp = fs::last_write_time(path, ec);
    if (ec) return std::nullopt;
    const auto system = std::chrono::file_clock::to_sys(stamp);
    const std::time_t t = std::chrono::system_clock::to_time_t(system);
    std::tm local{};
    localtime_r(&t, &local);
    static constexpr const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%s/%04d %02d:%02d:%02d", local.tm_mday,
                  kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
    return std::string(text);
}

FileUpdateWatch::FileUpdateWatch(std::string path, std::chrono::milliseconds settle)
    : path_(std::move(path)), settle_(settle), saved_(readable_stamp(path_)) {}

bool FileUpdateWatch::updated() const {
    const auto now = readable_stamp(path_);
    return now && (!saved_ || *now > *saved_);
}

bool FileUpdateWatch::ready() {
    const auto stamp = readable_stamp(path_);
    const auto size = file_size(path_);
    if (!stamp || !size || (saved_ && *stamp <= *saved_)) {
        seen_.reset();
        return false;
    }
    const Snapshot now{*stamp, *size};
    const auto clock = std::chrono::steady_clock::now();
    if (seen_ != now) {
        seen_ = now;
        seen_since_ = clock;
        return false;
    }
    if (clock - seen_since_ < settle_) return false;
    // A writer that pauses longer than the settle time (or that sized the file first) is not
    // done while the bitstream lacks any of its image.
    return !has_bit_extension(path_) || bitstream_complete(path_);
}

}  // namespace vireo::app
