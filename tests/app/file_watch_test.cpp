// The design file's time stamp and the wait for a rewrite that has finished.
#include "app/file_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace vireo::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A file written ten seconds ago, as far as its time stamp says.
fs::path old_file(const std::string& name, const std::string& content) {
    const fs::path file = fs::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
    std::ofstream(file) << content;
    fs::last_write_time(file, fs::last_write_time(file) - 10s);
    return file;
}

TEST(FileUpdateWatch, EndsOnANewerStampOnly) {
    const fs::path file = fs::temp_directory_path() / ("watch_" + std::to_string(::getpid()));
    fs::remove(file);
    FileUpdateWatch missing(file.string());
    EXPECT_FALSE(missing.has_stamp());
    EXPECT_FALSE(missing.updated());
    std::ofstream(file) << "v1";
    EXPECT_TRUE(missing.updated()) << "a file that appears counts as updated";

    const auto t0 = fs::last_write_time(file);
    FileUpdateWatch watch(file.string());
    EXPECT_TRUE(watch.has_stamp());
    EXPECT_FALSE(watch.updated());
    fs::last_write_time(file, t0 + std::chrono::seconds(2));
    EXPECT_TRUE(watch.updated());
    EXPECT_TRUE(file_timestamp_text(file.string()).has_value());
    EXPECT_FALSE(file_timestamp_text("/nonexistent/file.bit").has_value());
    fs::remove(file);
}

TEST(FileUpdateWatch, ReadyOnlyOnceTheNewerFileKeepsStill) {
    const fs::path file = old_file("still", "v1");
    FileUpdateWatch watch(file.string(), 0ms);
    EXPECT_FALSE(watch.ready()) << "not rewritten yet";
    std::ofstream(file) << "v2";
    EXPECT_FALSE(watch.ready()) << "first sight of the new version";
    EXPECT_TRUE(watch.ready()) << "unchanged since";
    std::ofstream(file, std::ios::app) << " more";
    EXPECT_FALSE(watch.ready()) << "grew again";
    fs::remove(file);
}

// A synthesis run writes its output in pieces: the wait must not end between them.
TEST(FileUpdateWatch, SlowWriterIsWaitedFor) {
    const fs::path file = old_file("slow", "old design");
    FileUpdateWatch watch(file.string(), 1500ms);

    std::string expected;
    for (int i = 0; i < 20; ++i) expected += "piece " + std::to_string(i) + ";";
    std::thread writer([&] {
        std::ofstream out(file, std::ios::trunc);
        for (int i = 0; i < 20; ++i) {
            out << "piece " << i << ";" << std::flush;
            std::this_thread::sleep_for(10ms);
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    bool ready = false;
    while (!ready && std::chrono::steady_clock::now() < deadline) {
        ready = watch.ready();
        if (!ready) std::this_thread::sleep_for(20ms);
    }
    std::ifstream in(file);
    const std::string read{std::istreambuf_iterator<char>(in), {}};
    writer.join();
    EXPECT_TRUE(ready);
    EXPECT_EQ(read, expected) << "the wait ended before the writer did";
    fs::remove(file);
}

}  // namespace
}  // namespace vireo::app
