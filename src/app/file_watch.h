// File time stamps as the programmer shows them, and the wait for a design file to be rewritten
// (a synthesis run finishing) before programming it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vireo::app {

// "07/DEC/2026 20:45:12" for an existing file, nothing otherwise.
std::optional<std::string> file_timestamp_text(const std::string& path);

class FileUpdateWatch {
  public:
    // How long a rewritten file must keep its size and time stamp before it counts as written.
    static constexpr std::chrono::milliseconds kSettleTime{400};

    // Remembers the file's current time stamp when it can be read (else waits for any stamp).
    explicit FileUpdateWatch(std::string path, std::chrono::milliseconds settle = kSettleTime);

    const std::string& path() const { return path_; }
    bool has_stamp() const { return saved_.has_value(); }
    // True once the file can be opened for reading and carries a later time stamp.
    bool updated() const;
    // True once the file is updated and has then kept its size and time stamp for the settle
    // time, so that a writer still at work (a synthesis run writing in pieces) is not read
    // half-way; a .bit file must also hold a whole configuration (bitstream_complete). Called
    // repeatedly while waiting.
    bool ready();

  private:
    struct Snapshot {
        std::filesystem::file_time_type stamp;
        std::uintmax_t size = 0;
        bool operator==(const Snapshot&) const = default;
    };

    std::string path_;
    std::chrono::milliseconds settle_;
    std::optional<std::filesystem::file_time_type> saved_;
    std::optional<Snapshot> seen_;  // the updated file as last seen, and since when
    std::chrono::steady_clock::time_point seen_since_;
};

}  // namespace vireo::app
