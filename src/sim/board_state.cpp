#include "sim/board_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

namespace vireo::sim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBoardFile = "board.txt";
constexpr const char* kFlashFile = "flash.bin";

// No state file comes near this; a bigger one is not read into memory.
constexpr off_t kLargestStateFile = off_t{1} << 30;

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

std::string reason() {
    return std::strerror(errno);
}

enum class Read { Missing, Done, Failed };

// Reads the whole file. Only a file that does not exist is Missing; anything else that keeps it
// from being read (permissions, a directory in its place, an I/O error) is Failed, with the
// reason in *error.
Read read_file(const fs::path& path, std::vector<uint8_t>* bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return Read::Missing;
    std::string why;
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        why = reason();
    } else if (st.st_size > kLargestStateFile) {
        why = std::to_string(st.st_size) + " bytes, more than any board keeps";
    } else {
        bytes->clear();
        bytes->reserve(static_cast<size_t>(st.st_size));
        uint8_t chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0) {
                bytes->insert(bytes->end(), chunk, chunk + n);
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                why = reason();
                break;
            }
        }
    }
    if (fd >= 0) ::close(fd);
    if (why.empty()) return Read::Done;
    fail(error, path.string() + " cannot be read: " + why);
    return Read::Failed;
}

// A save killed between writing its temporary file and the rename leaves that file behind. No
// save runs while the folder's lock is held, so every such file found then is a leftover.
void remove_leftovers(const fs::path& dir) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const std::string prefix : {kBoardFile, kFlashFile}) {
            const std::string tmp = prefix + ".tmp";
            if (name.size() > tmp.size() && name.starts_with(tmp) &&
                name.find_first_not_of("0123456789", tmp.size()) == std::string::npos) {
                std::error_code ignored;  // left behind, it harms nothing
                fs::remove(it->path(), ignored);
            }
        }
    }
}

}  // namespace

// An exclusive flock on DIR/lock, taken with a bounded wait.
class FolderLock {
  public:
    FolderLock(const fs::path& dir, int wait_ms, std::string* error,
               const std::function<void()>& on_wait = {}) {
        std::error_code ec;
        fs::create_directories(dir, ec);
        fd_ = ::open((dir / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            fail(error, "cannot open the lock file in " + dir.string() + ": " + reason());
            return;
        }
        for (int waited = 0; waited <= wait_ms; waited += 10) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            if (waited == 0 && on_wait) on_wait();
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

// Writes a sibling temporary file, flushes it to disk and renames it over the target. Any step
// that fails (a short write, a full disk, fsync, the rename) leaves the target as it was and
// gives the reason.
bool replace_file(const fs::path& target, const char* data, size_t size, std::string* error) {
    const fs::path temp = target.string() + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail(error, "cannot write " + target.string() + ": " + reason());
    std::string why;
    size_t done = 0;
    while (done < size && why.empty()) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0)
            why = "short write";
        else if (errno != EINTR)
            why = reason();
    }
    if (why.empty() && ::fsync(fd) != 0) why = reason();
    if (::close(fd) != 0 && why.empty()) why = reason();
    if (why.empty() && ::rename(temp.c_str(), target.c_str()) != 0) why = reason();
    if (why.empty()) return true;
    ::unlink(temp.c_str());
    return fail(error, "cannot write " + target.string() + ": " + why);
}

}  // namespace

StateFolder::StateFolder(std::string dir, int lock_wait_ms)
    : dir_(std::move(dir)), lock_wait_ms_(lock_wait_ms) {}

StateFolder::~StateFolder() = default;

bool StateFolder::claim(std::string* error, const std::function<void()>& on_wait) {
    if (held_) return true;
    auto lock = std::make_unique<FolderLock>(dir_, lock_wait_ms_, error, on_wait);
    if (!lock->locked()) return false;
    held_ = std::move(lock);
    remove_leftovers(dir_);
    return true;
}

std::string StateFolder::flash_file() const {
    return (fs::path(dir_) / kFlashFile).string();
}

std::optional<SavedBoard> StateFolder::load(std::string* error) const {
    if (error) error->clear();
    const std::optional<FolderLock> lock =
        held_ ? std::nullopt : std::make_optional<FolderLock>(dir_, lock_wait_ms_, error);
    if (lock && !lock->locked()) return std::nullopt;
    std::vector<uint8_t> bytes;
    const fs::path board_file = fs::path(dir_) / kBoardFile;
    if (read_file(board_file, &bytes, error) != Read::Done) return std::nullopt;
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
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
            fail(error, "malformed line in " + board_file.string());
            return std::nullopt;
        }
    }
    const Read flash = read_file(flash_file(), &b.flash, error);
    if (flash == Read::Failed) return std::nullopt;
    b.flash_file = flash == Read::Done;
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
