#include "app/file_watch.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>

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

FileUpdateWatch::FileUpdateWatch(std::string path)
    : path_(std::move(path)), saved_(readable_stamp(path_)) {}

bool FileUpdateWatch::updated() const {
    const auto now = readable_stamp(path_);
    return now && (!saved_ || *now > *saved_);
}

}  // namespace vireo::app
