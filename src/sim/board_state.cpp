#include "sim/board_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vireo::sim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBoardFile = "board.txt";
constexpr const char* kFlashFile = "flash.bin";

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

// An exclusive flock on DIR/lock, taken with a bounded wait.
class FolderLock {
  public:
    FolderLock(const fs::path& dir, int wait_ms, std::string* error) {
        std::error_code ec;
        fs::create_directories(dir, ec);
        fd_ = ::open((dir / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            fail(error, "cannot open the lock file in " + dir.string());
            return;
        }
        for (int waited = 0; waited <= wait_ms; waited += 10) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        fail(error, "the state folder " + dir.string() +
                        " stays locked: another process is using this virtual board");
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool locked() const { return locked_; }

  private:
    int fd_ = -1;
    bool locked_ = false;
};

namespace {

// Writes a sibling temporary file, flushes it to disk and renames it over the target.
bool replace_file(const fs::path& target, const char* data, size_t size, std::string* error) {
    const fs::path temp = target.string() + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail(error, "cannot write " + temp.string());
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const bool ok = done == size && ::fsync(fd) == 0;
    ::close(fd);
    std::error_code ec;
    if (ok) fs::rename(temp, target, ec);
    if (!ok || ec) {
        fs::remove(temp, ec);
        return fail(error, "cannot write " + target.string());
    }
    return true;
}

}  // namespace

StateFolder::StateFolder(std::string dir, int lock_wait_ms)
    : dir_(std::move(dir)), lock_wait_ms_(lock_wait_ms) {}

StateFolder::~StateFolder() = default;

bool StateFolder::claim(std::string* error) {
    if (held_) return true;
    auto lock = std::make_unique<FolderLock>(dir_, lock_wait_ms_, error);
    if (!lock->locked()) return false;
    held_ = std::move(lock);
    return true;
}

std::optional<SavedBoard> StateFolder::load(std::string* error) const {
    if (error) error->clear();
    const std::optional<FolderLock> lock =
        held_ ? std::nullopt : std::make_optional<FolderLock>(dir_, lock_wait_ms_, error);
    if (lock && !lock->locked()) return std::nullopt;
    std::ifstream text(fs::path(dir_) / kBoardFile);
    if (!text) return std::nullopt;
    SavedBoard b;
    std::string line;
    while (std::getline(text, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        const auto number = [&value] {
            return static_cast<uint32_t>(std::stoul(value, nullptr, 0));
        };
        try {
            if (key == "powered") b.powered = value == "1";
            if (key == "became") b.became = value;
            if (key == "flash") b.flash_part = value;
            if (key == "power_of_two") b.power_of_two = value == "1";
            if (key == "configured") b.design.configured = value == "1";
            if (key == "spi_bridge") b.design.spi_bridge = value == "1";
            if (key == "usercode") b.design.usercode = number();
            if (key == "signature") b.design.signature = number();
            if (key == "bootsts") b.bootsts = number();
        } catch (const std::exception&) {
            fail(error, "malformed line in " + (fs::path(dir_) / kBoardFile).string());
            return std::nullopt;
        }
    }
    std::ifstream flash(fs::path(dir_) / kFlashFile, std::ios::binary);
    if (flash) b.flash.assign(std::istreambuf_iterator<char>(flash), {});
    return b;
}

bool StateFolder::save(const SavedBoard& b, std::string* error) const {
    if (error) error->clear();
    const std::optional<FolderLock> lock =
        held_ ? std::nullopt : std::make_optional<FolderLock>(dir_, lock_wait_ms_, error);
    if (lock && !lock->locked()) return false;
    const fs::path dir(dir_);
    if (!b.flash.empty() &&
        !replace_file(dir / kFlashFile, reinterpret_cast<const char*>(b.flash.data()),
                      b.flash.size(), error))
        return false;
    std::ostringstream text;
    text << "powered=" << b.powered << "\nbecame=" << b.became << "\nflash=" << b.flash_part
         << "\npower_of_two=" << b.power_of_two << "\nconfigured=" << b.design.configured
         << "\nspi_bridge=" << b.design.spi_bridge << std::hex << "\nusercode=0x"
         << b.design.usercode << "\nsignature=0x" << b.design.signature << "\nbootsts=0x"
         << b.bootsts << "\n";
    const std::string s = text.str();
    return replace_file(dir / kBoardFile, s.data(), s.size(), error);
}

}  // namespace vireo::sim
