// Device objects served by a virtual board: its USB 2.0 firmware model behind the four pipes.
// Every call is one USB transfer of the board (counted, latency added, refused once the board is
// unplugged or replaced by another), a group of reads as many transfers with one latency, and
// holds the board's lock. Posted reads are read at their collect; the firmware's IN buffers
// (when it has a limited number) see them from the post on. The device shares the board, so it
// never outlives it.
#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "cables/devobj.h"
#include "cables/usb_virtual.h"

namespace {

using vireo::sim::Usb2Firmware;
using vireo::sim::Usb2Identity;
using vireo::sim::VirtualBoard;

class VirtualDevice : public DevobjDevice {
  public:
    VirtualDevice(std::shared_ptr<VirtualBoard> board, Usb2Identity identity, VirtualPlug plug)
        : board_(std::move(board)), plug_(std::move(plug)), firmware_(std::move(identity)) {}

    bool write(uint32_t pipe, const uint8_t* data, uint32_t size, uint32_t* returned) override {
        if (!plugged()) return false;
        std::lock_guard lock(board_->mutex());
        const VirtualBoard::ModelWork work(*board_);
        const bool queued = pipe == DEVOBJ_PIPE_STREAM_OUT;
        if (!(queued ? board_->queue_transfer(size, kDevobjStreamWindow)
                     : board_->transfer(size, 0)))
            return false;
        const size_t before = firmware_.pending(DEVOBJ_PIPE_STREAM_IN);
        const bool taken = firmware_.receive(static_cast<int>(pipe), data, size, board_->chain());
        note_replies(before);
        if (queued) board_->queued_transfer_done();
        if (!taken) return false;
        *returned = size;
        return true;
    }

    // Nothing waiting on the pipe is what a time-out looks like on the bus: a failure.
    bool read(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t* returned) override {
        if (!plugged()) return false;
        std::lock_guard lock(board_->mutex());
        const VirtualBoard::ModelWork work(*board_);
        in_transfers(pipe, size, 1);
        const size_t waiting = firmware_.pending(static_cast<int>(pipe));
        const size_t n = std::min<size_t>(waiting, size);
        const bool moved = pipe == DEVOBJ_PIPE_STREAM_IN ? board_->reply_transfer(n, take_ready(n))
                                                         : board_->transfer(0, n);
        if (!moved || waiting == 0) return false;
        *returned = static_cast<uint32_t>(firmware_.reply(static_cast<int>(pipe), data, size));
        return true;
    }

    // Reads of the stream replies submitted at once, one latency for the group
    // (VirtualBoard::reply_transfers); each takes what is waiting, up to size, and the last
    // finding nothing fails the group as a lone read would. Other pipes read one by one.
    bool read_many(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t count,
                   uint32_t* returned) override {
        if (pipe != DEVOBJ_PIPE_STREAM_IN)
            return DevobjDevice::read_many(pipe, data, size, count, returned);
        if (!plugged()) return false;
        std::lock_guard lock(board_->mutex());
        const VirtualBoard::ModelWork work(*board_);
        in_transfers(pipe, size, count);
        size_t waiting = firmware_.pending(static_cast<int>(pipe));
        const size_t total = std::min<size_t>(waiting, size_t{size} * count);
        std::vector<uint64_t> bytes, ready;
        for (uint32_t i = 0; i < count; ++i) {
            const size_t n = std::min<size_t>(waiting, size);
            waiting -= n;
            bytes.push_back(n);
            ready.push_back(take_ready(n));
        }
        if (!board_->reply_transfers(bytes, ready) || bytes.back() == 0) return false;
        *returned = static_cast<uint32_t>(firmware_.reply(static_cast<int>(pipe), data, total));
        return true;
    }

    // The reads reach the firmware's IN buffers at once; their bytes and time are those of the
    // read or reads at the collect, as for reads not posted.
    bool post_reads(uint32_t pipe, uint32_t size, uint32_t count) override {
        if (!DevobjDevice::post_reads(pipe, size, count)) return false;
        std::lock_guard lock(board_->mutex());
        for (uint32_t i = 0; i < count && pipe == DEVOBJ_PIPE_STREAM_IN; ++i)
            firmware_.post_in(size);
        posted_through_.push_back(firmware_.in_posted());
        return true;
    }

    bool collect_reads(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t count,
                       uint32_t* returned) override {
        if (posted_through_.empty()) return false;
        collecting_ = true;
        const bool ok = DevobjDevice::collect_reads(pipe, data, size, count, returned);
        collecting_ = false;
        std::lock_guard lock(board_->mutex());
        firmware_.end_in(posted_through_.front());
        posted_through_.pop_front();
        return ok;
    }

    bool string_descriptor(uint8_t index, uint16_t, uint8_t* data, uint32_t size,
                           uint32_t* returned) override {
        if (!plugged()) return false;
        std::lock_guard lock(board_->mutex());
        const std::vector<uint8_t> d = firmware_.string_descriptor(index);
        const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(d.size()));
        if (!board_->transfer(0, n)) return false;
        std::memcpy(data, d.data(), n);
        *returned = n;
        return true;
    }

  private:
    // Reads not posted before (not collected) reach the firmware's IN buffers as they are made,
    // and end with the read.
    void in_transfers(uint32_t pipe, uint32_t size, uint32_t count) {
        if (pipe != DEVOBJ_PIPE_STREAM_IN || collecting_) return;
        for (uint32_t i = 0; i < count; ++i) firmware_.post_in(size);
        firmware_.end_in(firmware_.in_posted());
    }
    // The stream replies a command transfer added (or the reset it made), with the modeled time
    // they were complete.
    void note_replies(size_t before) {
        const size_t after = firmware_.pending(DEVOBJ_PIPE_STREAM_IN);
        if (after < before) stream_ready_.clear(), before = 0;
        if (after > before) stream_ready_.push_back({after - before, board_->chain().now_ns()});
    }
    // When the last of the next n reply bytes was complete.
    uint64_t take_ready(size_t n) {
        uint64_t ready = board_->chain().now_ns();
        while (n > 0 && !stream_ready_.empty()) {
            auto& [bytes, at] = stream_ready_.front();
            ready = at;
            const size_t used = std::min(n, bytes);
            bytes -= used;
            n -= used;
            if (bytes == 0) stream_ready_.pop_front();
        }
        return ready;
    }

    // A board replaced by another is a cable pulled out.
    bool plugged() const { return !plug_ || plug_->load(); }

    std::shared_ptr<VirtualBoard> board_;
    VirtualPlug plug_;
    Usb2Firmware firmware_;
    std::deque<std::pair<size_t, uint64_t>> stream_ready_;  // reply bytes, complete at
    std::deque<uint64_t> posted_through_;  // per posted group, its last read (Usb2Firmware)
    bool collecting_ = false;              // reads of a posted group
};

}  // namespace

std::unique_ptr<DevobjDevice> devobj_virtual_open(std::shared_ptr<VirtualBoard> board,
                                                  const std::string& name,
                                                  const Usb2Identity* pose_as, VirtualPlug plug) {
    int family = -1;
    if (!board || devobj_name_index(name, &family) != 0 || family != 0) return nullptr;
    if ((plug && !plug->load()) || board->unplugged()) return nullptr;
    std::optional<Usb2Identity> identity = vireo::sim::usb2_identity(board->config());
    if (!identity) return nullptr;
    return std::make_unique<VirtualDevice>(std::move(board), pose_as ? *pose_as : *identity,
                                           std::move(plug));
}
