// An emulated USB bus for the libusb back-ends: umockdev presents usbdevfs devices with a board's
// descriptors, and their transfers (bulk, control, string descriptors, the boot loader's vendor
// request) are answered by the same firmware models the virtual board uses. Processes that run
// under the umockdev preload library with child_environment() see the bus; this process too
// when it runs under the preload (see available()).
//
// What the kernel would do is emulated where the back-ends depend on it: interface claims (busy
// while another client holds it; umockdev does not tell when a client closes its file, so only an
// explicit release counts), a kernel driver bound
// to the interface that must be detached first, URBs reaped in order, discarded URBs reaped as
// cancelled. Faults can be planned per device: the device gone, a transfer that never ends, a
// short bulk read, a stalled endpoint.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/virtual_board.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace vireo::test {

enum class UsbFault {
    None,
    Gone,       // the device leaves the bus: its URBs end as "no device", later calls fail ENODEV
    Timeout,    // the transfer never ends (until the host cancels it)
    ShortRead,  // a bulk IN transfer ends with half of the bytes waiting
    Stall,      // the endpoint stalls (EPIPE)
};

// One planned fault: strikes the bulk transfer in the given direction after `after` bytes of
// bulk OUT (out) or `after` bulk IN transfers (in) have passed.
struct FaultPlan {
    UsbFault fault = UsbFault::None;
    bool in = false;
    uint64_t after = 0;
};

class EmulatedBus;

// One device on the bus. Every member may be called from the test's thread while clients work.
class EmulatedDevice {
  public:
    EmulatedDevice(EmulatedBus& bus, std::shared_ptr<sim::VirtualBoard> board, int bus_number,
                   int port, std::string serial);
    ~EmulatedDevice();
    EmulatedDevice(const EmulatedDevice&) = delete;
    EmulatedDevice& operator=(const EmulatedDevice&) = delete;

    void plan(FaultPlan fault);
    // Another process holds interface 0: claims fail with EBUSY.
    void hold_interface(bool held);
    // A kernel driver is bound to interface 0 (claims fail until it is detached).
    void bind_kernel_driver(const std::string& name);

    // Observations.
    int claims() const;  // clients holding interface 0 now
    bool kernel_driver_bound() const;
    bool booted() const;  // a boot loader that jumped to its firmware
    // What a boot loader holds at `address`; empty outside its memory or on another device.
    std::vector<uint8_t> loader_memory(uint32_t address, size_t size) const;
    uint64_t out_bytes() const;     // bulk OUT bytes taken
    uint64_t in_transfers() const;  // bulk IN transfers answered
    int faults_struck() const;      // planned faults that happened
    std::string place() const;      // "BUS:PORT", as vireo names it
    const std::string& serial() const { return serial_; }
    // Runs f on the board under the device's lock.
    template <typename F>
    auto with_board(F f) {
        std::lock_guard lock(mutex_);
        return f(*board_);
    }

    // Internal: called by the umockdev handler on its thread.
    struct Impl;
    Impl& impl() { return *impl_; }

  private:
    friend class EmulatedBus;
    friend struct Impl;
    EmulatedBus& bus_;
    std::shared_ptr<sim::VirtualBoard> board_;
    int bus_number_, port_;
    std::string serial_;
    mutable std::mutex mutex_;
    std::unique_ptr<Impl> impl_;
};

class EmulatedBus {
  public:
    // Whether this process runs under the umockdev preload library; *why when not.
    static bool available(std::string* why);
    EmulatedBus();
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    // Plugs the board into `port` of bus `bus_number` (a fresh device address each time). The
    // device shows the board's USB identity: an FX3 board, the FX3 boot loader, or a USB 2.0
    // cable or board.
    EmulatedDevice& plug(std::shared_ptr<sim::VirtualBoard> board, int bus_number, int port,
                         std::string serial = "");
    // Takes the device off the bus (its clients' calls fail from then on).
    void unplug(EmulatedDevice& device);
    // A boot loader that jumped to its firmware leaves the bus and comes back as the board it
    // became, at the same port: the new device (the old one is gone).
    EmulatedDevice& reenumerate(EmulatedDevice& device);

    // "UMOCKDEV_DIR=... LD_PRELOAD=..." for a child process's environment.
    std::string child_environment() const;

  private:
    friend class EmulatedDevice;
    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<EmulatedDevice>> devices_;
    int next_address_ = 2;
};

}  // namespace vireo::test
