// The devices behind one cable, in chain order (index 0 nearest TDI), with whole-chain shifts,
// detection by IDCODE scan, and the lock that refuses structural changes during an operation.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "jtag/device.h"

struct Cable;

constexpr int kChainMagic = 1001;

// Flags of chain_shift.
enum ChainShiftFlags : int {
    CHAIN_WRITE_ONLY = 0,
    CHAIN_COMPARE = 1,     // compare the capture with TDO under TDOMASK, and write it back
    CHAIN_WRITE_BACK = 2,  // write the capture back without comparing
    // Capture without waiting for it: the cable may keep the reply on its way, and chain_collect
    // hands the capture over later. Nothing is compared or written back.
    CHAIN_DEFERRED = 4,
};

struct ChainSettings {
    int check_level = 0;  // identity check: 0 IR capture and IDCODE, 1 IDCODE only, 2 neither
    int flush = 1;        // flush flag handed to the driver
    int bulk = 0;         // raised around long data shifts by the device algorithms
    const char* label = nullptr;  // current step, handed to the driver
    int stay = 0;                 // 0: back to Run-Test/Idle after every shift
    int error = 0;                // 1 after a failed driver shift
};

struct DeviceDestroy {
    void operator()(Device* device) const { device_destroy(device); }
};

struct Chain {
    int magic = kChainMagic;
    std::string name;
    Cable* cable = nullptr;  // not owned
    std::vector<std::unique_ptr<Device, DeviceDestroy>> devices;
    std::unique_ptr<ChainSettings> settings;
    int locked = 0;                                          // nesting depth of chain_lock
    std::array<std::vector<uint8_t>, kBsRegPlanes> buffers;  // whole-chain planes
    int capacity = 100;
    void (*on_destroy)(Chain*) = nullptr;
    std::deque<std::vector<uint8_t>> deferred;  // whole-chain captures of CHAIN_DEFERRED shifts
    std::vector<std::vector<uint8_t>> spare;    // collected capture buffers, for the next ones
};

Chain* chain_new(const char* name);
void chain_delete(Chain* chain);
int chain_set_cable(Chain* chain, Cable* cable);
Cable* chain_get_cable(const Chain* chain);
const char* chain_name(const Chain* chain);
int chain_count(const Chain* chain);
Device* chain_get_device(const Chain* chain, int index);
ChainSettings* chain_settings(const Chain* chain);
int chain_clear(Chain* chain);
int chain_add_device(Chain* chain, const char* device_name, const char* part_name);
int chain_insert_device(Chain* chain, const char* device_name, const char* part_name, int index);
int chain_remove_device(Chain* chain, int index);
// The lock refuses structural changes while an operation runs. Locks nest: only the outermost
// lock and unlock send option 9 to the cable.
void chain_lock(Chain* chain);
void chain_unlock(Chain* chain);
// A null or dead chain counts as locked.
int chain_is_locked(const Chain* chain);
[[nodiscard]] int chain_detect(Chain* chain);
[[nodiscard]] int chain_shift(Chain* chain, int kind, int flags);
// The captures of the CHAIN_DEFERRED shifts since the last collect, oldest first, each over the
// whole chain as it was shifted (bit 0 nearest TDO). 1, or 0 when the cable failed to deliver
// them (their bits are then 0). The buffers *captures held are taken back for later captures.
[[nodiscard]] int chain_collect(Chain* chain, std::vector<std::vector<uint8_t>>* captures);
// Whether the cable keeps deferred captures on their way instead of waiting for each one.
bool chain_defers(Chain* chain);
[[nodiscard]] int chain_runtest(Chain* chain, unsigned state, int64_t usec, int64_t clocks,
                                const uint8_t* tdi, uint8_t* tdo);

// Holds the chain lock for one scope, so that no return path can leave the chain locked.
class ChainLockGuard {
  public:
    explicit ChainLockGuard(Chain* chain) : chain_(chain) { chain_lock(chain_); }
    ~ChainLockGuard() { chain_unlock(chain_); }
    ChainLockGuard(const ChainLockGuard&) = delete;
    ChainLockGuard& operator=(const ChainLockGuard&) = delete;

  private:
    Chain* chain_;
};

// Sets the label handed to the cable with each scan for one scope.
class ChainLabelGuard {
  public:
    ChainLabelGuard(Chain* chain, const char* label) : settings_(chain_settings(chain)) {
        if (settings_) settings_->label = label;
    }
    ~ChainLabelGuard() {
        if (settings_) settings_->label = nullptr;
    }
    ChainLabelGuard(const ChainLabelGuard&) = delete;
    ChainLabelGuard& operator=(const ChainLabelGuard&) = delete;

  private:
    ChainSettings* settings_;
};

// Sets the flush flag handed to the cable for one scope and restores the earlier value.
class ChainFlushGuard {
  public:
    ChainFlushGuard(Chain* chain, int flush) : settings_(chain_settings(chain)) {
        if (!settings_) return;
        old_ = settings_->flush;
        settings_->flush = flush;
    }
    ~ChainFlushGuard() {
        if (settings_) settings_->flush = old_;
    }
    ChainFlushGuard(const ChainFlushGuard&) = delete;
    ChainFlushGuard& operator=(const ChainFlushGuard&) = delete;

  private:
    ChainSettings* settings_;
    int old_ = 0;
};
