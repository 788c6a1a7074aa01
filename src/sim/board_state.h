// The state folder of a virtual board: what a real board keeps between two programs run one
// after the other (flash contents, the FPGA's running design, the FX3 firmware while powered).
// Every load and save holds an exclusive lock on DIR/lock, and every file is replaced with a
// rename, so a reader sees the old or the new board, never a mix. A board in use claims the
// folder for as long as it runs, as a process holds a USB interface: a second process on the
// same board waits for it (bounded) instead of working on a copy that one of them would lose.
// Claiming it removes the temporary files a killed save left behind. A file that exists but
// cannot be read is an error, never taken for "nothing saved".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/config_engine.h"

namespace vireo::sim {

struct SavedBoard {
    bool powered = false;  // false: the next start is a power-up
    std::string became;    // FX3 boot loader: the board its downloaded firmware made it
    std::string flash_part;
    bool power_of_two = false;   // AT45 stored page-size configuration
    std::vector<uint8_t> flash;  // empty: not saved (blank, or unchanged when saving)
    bool flash_file = false;     // load: flash.bin exists (`flash` holds it, whatever its size)
    LoadedDesign design;
    uint32_t bootsts = 0;
};

class FolderLock;

class StateFolder {
  public:
    explicit StateFolder(std::string dir, int lock_wait_ms = kLockWaitMs);
    ~StateFolder();
    StateFolder(const StateFolder&) = delete;
    StateFolder& operator=(const StateFolder&) = delete;

    // Takes the folder's lock until this object goes; load and save then work under it. on_wait
    // runs once when another process holds the lock, before the wait for it.
    bool claim(std::string* error = nullptr, const std::function<void()>& on_wait = {});
    // Where the flash contents are kept, for messages.
    std::string flash_file() const;

    // Nothing saved yet gives an empty optional and no error; a state file that cannot be read
    // or parsed gives an empty optional and the reason.
    std::optional<SavedBoard> load(std::string* error = nullptr) const;
    // An empty board.flash keeps the flash file as it is. False, with the file and the system's
    // reason in *error, when a file could not be written whole; that file keeps what it held.
    bool save(const SavedBoard& board, std::string* error = nullptr) const;

    // How long load and save wait for another process's lock before giving up.
    static constexpr int kLockWaitMs = 10'000;

  private:
    std::string dir_;
    int lock_wait_ms_;
    std::unique_ptr<FolderLock> held_;
};

}  // namespace vireo::sim
