// Device objects served by the process's virtual board: its USB 2.0 firmware model behind the
// four pipes. Every call is one USB transfer of the board (counted, latency added, refused once
// the board is unplugged) and holds the board's lock.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "cables/devobj_backend.h"
#include "sim/virtual_board.h"

namespace {

using vireo::sim::Usb2Firmware;
using vireo::sim::Usb2Identity;
using vireo::sim::VirtualBoard;

class VirtualDevice : public DevobjDevice {
  public:
    VirtualDevice(const VirtualBoard& board, Usb2Identity identity)
        : serial_(board.serial()), firmware_(std::move(identity)) {}

    bool write(uint32_t pipe, const uint8_t* data, uint32_t size, uint32_t* returned) override {
        VirtualBoard* board = plugged();
        if (!board) return false;
        std::lock_guard lock(board->mutex());
        if (!board->transfer(size, 0)) return false;
        if (!firmware_.receive(static_cast<int>(pipe), data, size, board->chain())) return false;
        *returned = size;
        return true;
    }

    // Nothing waiting on the pipe is what a time-out looks like on the bus: a failure.
    bool read(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t* returned) override {
        VirtualBoard* board = plugged();
        if (!board) return false;
        std::lock_guard lock(board->mutex());
        const size_t waiting = firmware_.pending(static_cast<int>(pipe));
        if (!board->transfer(0, std::min<size_t>(waiting, size))) return false;
        if (waiting == 0) return false;
        *returned = static_cast<uint32_t>(firmware_.reply(static_cast<int>(pipe), data, size));
        return true;
    }

    bool string_descriptor(uint8_t index, uint16_t, uint8_t* data, uint32_t size,
                           uint32_t* returned) override {
        VirtualBoard* board = plugged();
        if (!board) return false;
        std::lock_guard lock(board->mutex());
        const std::vector<uint8_t> d = firmware_.string_descriptor(index);
        const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(d.size()));
        if (!board->transfer(0, n)) return false;
        std::memcpy(data, d.data(), n);
        *returned = n;
        return true;
    }

  private:
    // The board this handle was opened on, while it is still the process's board: a board
    // replaced by reset_virtual_board is a cable pulled out.
    VirtualBoard* plugged() const {
        VirtualBoard* board = vireo::sim::virtual_board();
        return board && board->serial() == serial_ ? board : nullptr;
    }

    uint64_t serial_;
    Usb2Firmware firmware_;
};

}  // namespace

std::unique_ptr<DevobjDevice> devobj_virtual_open(const std::string& name,
                                                  const Usb2Identity* pose_as) {
    int family = -1;
    if (devobj_name_index(name, &family) != 0 || family != 0) return nullptr;
    VirtualBoard* board = vireo::sim::virtual_board();
    if (!board || board->unplugged()) return nullptr;
    std::optional<Usb2Identity> identity = vireo::sim::usb2_identity(board->config());
    if (!identity) return nullptr;
    return std::make_unique<VirtualDevice>(*board, pose_as ? *pose_as : *identity);
}
