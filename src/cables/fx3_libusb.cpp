// The FX3 component on real boards through libusb-1.0: the JTAG firmware's bulk endpoints, and
// the boot loader's vendor request 0xA0 for a firmware download.
#include <libusb.h>

#include <algorithm>

#include "cables/fx3_backend.h"
#include "cables/fx3_image.h"
#include "cables/usb_ids.h"
#include "cables/usb_libusb.h"

namespace {

constexpr unsigned kBulkTimeoutMs = 3000;
constexpr unsigned kControlTimeoutMs = 5000;
constexpr uint8_t kBootRequest = 0xA0;
constexpr size_t kBootChunk = 2048;

class LibusbFx3 : public Fx3Backend {
  public:
    bool open(int index, uint16_t* vid, uint16_t* pid, std::string* description) override {
        device_ = usb::Device::open(is_fx3_device, index);
        if (!device_) return false;
        *vid = device_->vendor();
        *pid = device_->product();
        *description = device_->product_text();
        boot_loader_ = is_fx3_boot_loader(*vid, *pid);
        return true;
    }

    int write(const uint8_t* data, int length) override {
        if (!device_ || boot_loader_ || length < 0) return -1;
        const usb::Transfer t = device_->queue_out(
            kFx3OutEndpoint, {data, static_cast<size_t>(length)}, kFx3WriteWindow, kBulkTimeoutMs);
        return t.ok() ? length : -1;
    }

    // Waits for no queued write: the board may take no more of them until the replies it holds
    // are read, and a capture keeps several replies on their way.
    int read(uint8_t* data, int max) override {
        if (!device_ || boot_loader_ || max < 0 || !device_->queued_failure().ok()) return -1;
        const usb::Transfer t =
            device_->bulk_in(kFx3InEndpoint, {data, static_cast<size_t>(max)}, kBulkTimeoutMs);
        return t.ok() && device_->queued_failure().ok() ? t.moved : -1;
    }

    bool download(const std::vector<uint8_t>& bytes, std::string* error) override {
        if (!device_ || !boot_loader_) {
            *error = "the open FX3 device is not in its boot loader";
            return false;
        }
        Fx3Image image;
        *error = fx3_image_check(bytes.data(), bytes.size(), &image);
        if (!error->empty()) return false;
        for (const Fx3Section& s : image.sections) {
            for (size_t at = 0; at < s.data.size(); at += kBootChunk) {
                const size_t n = std::min(kBootChunk, s.data.size() - at);
                const uint32_t address = s.address + static_cast<uint32_t>(at);
                const usb::Transfer t =
                    device_->vendor_out(kBootRequest, address & 0xFFFF, address >> 16,
                                        {s.data.data() + at, n}, kControlTimeoutMs);
                if (!t.ok() || t.moved != static_cast<int>(n)) {
                    *error = std::string("writing the firmware failed: ") +
                             (t.ok() ? "short transfer" : t.error_name());
                    return false;
                }
            }
        }
        // The boot loader may leave the bus before it acknowledges the jump.
        const usb::Transfer t = device_->vendor_out(kBootRequest, image.entry & 0xFFFF,
                                                    image.entry >> 16, {}, kControlTimeoutMs);
        if (!t.ok() && t.rc != LIBUSB_ERROR_IO && t.rc != LIBUSB_ERROR_PIPE &&
            t.rc != LIBUSB_ERROR_NO_DEVICE) {
            *error = std::string("starting the firmware failed: ") + t.error_name();
            return false;
        }
        return true;
    }

  private:
    std::unique_ptr<usb::Device> device_;
    bool boot_loader_ = false;
};

}  // namespace

std::unique_ptr<Fx3Backend> fx3_libusb_backend() {
    return std::make_unique<LibusbFx3>();
}
