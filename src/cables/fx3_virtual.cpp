// The FX3 component over a virtual board: its JTAG firmware model on a board preset, its boot
// loader model on a boot-loader preset. Every call is one USB transfer of the board, taken under
// the board's lock; a transfer the board refuses (unplugged), or one after the board was replaced
// by another, fails as on a pulled cable. The device shares the board, so it never outlives it.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "cables/fx3_image.h"
#include "cables/usb_virtual.h"
#include "sim/fx3_bootloader.h"
#include "sim/fx3_firmware.h"
#include "sim/virtual_board.h"

namespace {

using vireo::sim::TransportKind;

// Boot-loader requests carry at most this much data each, as the public loaders send them.
constexpr size_t kBootChunk = 4096;

class VirtualFx3 : public Fx3Backend {
  public:
    VirtualFx3(std::shared_ptr<vireo::sim::VirtualBoard> board, VirtualPlug plug)
        : owner_(std::move(board)), board_(*owner_), plug_(std::move(plug)) {}

    bool open(int index, uint16_t* vid, uint16_t* pid, std::string* description) override {
        std::lock_guard lock(board_.mutex());
        const vireo::sim::Transport& t = board_.preset().transport;
        if (index != 0 || !plugged()) return false;
        if (t.kind == TransportKind::Fx3Board) {
            firmware_ = std::make_unique<vireo::sim::Fx3Firmware>(board_.chain(), t.superspeed);
            *description = "Norvale " + board_.preset().name + " (virtual)";
        } else if (t.kind == TransportKind::Fx3BootLoader) {
            loader_ = std::make_unique<vireo::sim::Fx3BootLoader>(board_);
            *description = "WestBridge";
        } else {
            return false;
        }
        *vid = t.vid;
        *pid = t.pid;
        return true;
    }

    int write(const uint8_t* data, int length) override {
        std::lock_guard lock(board_.mutex());
        const vireo::sim::VirtualBoard::ModelWork work(board_);
        if (!firmware_ || !plugged() ||
            !board_.queue_transfer(static_cast<uint64_t>(length), kFx3WriteWindow))
            return -1;
        firmware_->receive(data, static_cast<size_t>(length));
        board_.queued_transfer_done();
        return length;
    }

    int read(uint8_t* data, int max) override {
        std::lock_guard lock(board_.mutex());
        const vireo::sim::VirtualBoard::ModelWork work(board_);
        std::vector<uint8_t> reply;
        uint64_t ready_ns = 0;
        if (!firmware_ || !plugged() || !firmware_->take_reply(&reply, &ready_ns)) return -1;
        // A reply longer than the request overflows the host's buffer: the transfer fails.
        if (reply.size() > static_cast<size_t>(max)) return -1;
        if (!board_.reply_transfer(reply.size(), ready_ns)) return -1;
        std::memcpy(data, reply.data(), reply.size());
        return static_cast<int>(reply.size());
    }

    bool download(const std::vector<uint8_t>& bytes, std::string* error) override {
        std::lock_guard lock(board_.mutex());
        if (!loader_) {
            *error = "the open FX3 device is not in its boot loader";
            return false;
        }
        if (!plugged()) return fail(error, "USB transfer to the boot loader failed");
        Fx3Image image;
        // The virtual board runs only its stand-in, so the stand-in is welcome here.
        *error = fx3_image_parse(bytes.data(), bytes.size(), &image);
        if (!error->empty()) return false;
        for (const Fx3Section& s : image.sections) {
            for (size_t at = 0; at < s.data.size(); at += kBootChunk) {
                const size_t n = std::min(kBootChunk, s.data.size() - at);
                if (!board_.transfer(n, 0))
                    return fail(error, "USB transfer to the boot loader failed");
                if (!loader_->write_memory(s.address + static_cast<uint32_t>(at),
                                           s.data.data() + at, n))
                    return fail(error, "the boot loader refused a section");
            }
        }
        if (!board_.transfer(0, 0)) return fail(error, "USB transfer to the boot loader failed");
        if (!loader_->jump(image.entry))
            return fail(error, "the virtual board runs only its own stand-in JTAG firmware");
        // The device has left the bus; this handle is dead until the next open.
        loader_.reset();
        return true;
    }

  private:
    // Neither unplugged nor replaced by another board.
    bool plugged() const { return !board_.unplugged() && (!plug_ || plug_->load()); }

    static bool fail(std::string* error, const char* text) {
        *error = text;
        return false;
    }

    std::shared_ptr<vireo::sim::VirtualBoard> owner_;
    vireo::sim::VirtualBoard& board_;  // *owner_
    VirtualPlug plug_;
    std::unique_ptr<vireo::sim::Fx3Firmware> firmware_;
    std::unique_ptr<vireo::sim::Fx3BootLoader> loader_;
};

}  // namespace

std::unique_ptr<Fx3Backend> fx3_virtual_backend(std::shared_ptr<vireo::sim::VirtualBoard> board,
                                                VirtualPlug plug) {
    if (!board) return nullptr;
    return std::make_unique<VirtualFx3>(std::move(board), std::move(plug));
}
