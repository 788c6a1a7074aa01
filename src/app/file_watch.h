// File time stamps as the programmer shows them, and the wait for a design file to be rewritten
// (a synthesis run finishing) before programming it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vireo::app {

// "07/DEC/2026 20:45:12" for an existing file, nothing otherwise.
std::optional<std::string> file_timestamp_text(const std::string& path);

class FileUpdateWatch {
public:
    // Remembers the file's current time stamp when it can be read (else waits for any stamp).
    explicit FileUpdateWatch(std::string path);

    const std::string& path() const { return path_; }
    bool has_stamp() const { return saved_.has_value(); }
    // True once the file can be opened for reading and carries a later time stamp.
    bool updated() const;

private:
    std::string path_;
    std::optional<std::filesystem::file_time_type> saved_;
};

}  // namespace vireo::app
