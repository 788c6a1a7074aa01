// The FX3 component on real boards through libusb-1.0: the JTAG firmware's bulk endpoints, and
// the boot loader's vendor request 0xA0 for a firmware download.
#include <libusb.h>

#include <algorithm>

#include "cables/fx3_backend.h"
#include "cables/fx3_image.h"

namespace {

constexpr unsigned kBulkTimeoutMs = 3000;
constexpr unsigned kControlTimeoutMs = 5000;
constexpr uint8_t kBootRequest = 0xA0;
constexpr size_t kBootChunk = 2048;

bool supported(uint16_t vid, uint16_t pid) {
    return (vid == 0x2129 && (pid == 0x0640 || pid == 0x0520)) || fx3_is_boot_loader(vid, pid);
}

class LibusbFx3 : public Fx3Backend {
  public:
    ~LibusbFx3() override {
        if (handle_) {
            if (claimed_) libusb_release_interface(handle_, 0);
            libusb_close(handle_);
        }
        if (context_) libusb_exit(context_);
    }

    bool open(int index, uint16_t* vid, uint16_t* pid, std::string* description) override {
        if (libusb_init(&context_) != 0) {
            context_ = nullptr;
            return false;
        }
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context_, &list);
        libusb_device* found = nullptr;
        libusb_device_descriptor desc{};
        for (ssize_t i = 0; i < count && !found; ++i) {
            if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
            if (supported(desc.idVendor, desc.idProduct) && index-- == 0) found = list[i];
        }
        const bool opened = found && libusb_open(found, &handle_) == 0;
        if (count >= 0) libusb_free_device_list(list, 1);
        if (!opened) {
            handle_ = nullptr;
            return false;
        }
        libusb_set_auto_detach_kernel_driver(handle_, 1);
        if (libusb_claim_interface(handle_, 0) != 0) return false;
        claimed_ = true;
        *vid = desc.idVendor;
        *pid = desc.idProduct;
        unsigned char product[128] = {};
        if (desc.iProduct &&
            libusb_get_string_descriptor_ascii(handle_, desc.iProduct, product, sizeof product) > 0)
            *description = reinterpret_cast<const char*>(product);
        boot_loader_ = fx3_is_boot_loader(desc.idVendor, desc.idProduct);
        return true;
    }

    int write(const uint8_t* data, int length) override {
        if (!handle_ || boot_loader_) return -1;
        int done = 0;
        const int rc = libusb_bulk_transfer(handle_, kFx3OutEndpoint, const_cast<uint8_t*>(data),
                                            length, &done, kBulkTimeoutMs);
        return rc == 0 && done == length ? done : -1;
    }

    int read(uint8_t* data, int max) override {
        if (!handle_ || boot_loader_) return -1;
        int done = 0;
        const int rc =
            libusb_bulk_transfer(handle_, kFx3InEndpoint, data, max, &done, kBulkTimeoutMs);
        return rc == 0 ? done : -1;
    }

    bool download(const std::vector<uint8_t>& bytes, std::string* error) override {
        if (!handle_ || !boot_loader_) {
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
                const int rc =
                    libusb_control_transfer(handle_, 0x40, kBootRequest, address & 0xFFFF,
                                            address >> 16, const_cast<uint8_t*>(s.data.data() + at),
                                            static_cast<uint16_t>(n), kControlTimeoutMs);
                if (rc != static_cast<int>(n)) {
                    *error = std::string("writing the firmware failed: ") +
                             (rc < 0 ? libusb_error_name(rc) : "short transfer");
                    return false;
                }
            }
        }
        // The boot loader may leave the bus before it acknowledges the jump.
        const int rc = libusb_control_transfer(handle_, 0x40, kBootRequest, image.entry & 0xFFFF,
                                               image.entry >> 16, nullptr, 0, kControlTimeoutMs);
        if (rc < 0 && rc != LIBUSB_ERROR_IO && rc != LIBUSB_ERROR_PIPE &&
            rc != LIBUSB_ERROR_NO_DEVICE) {
            *error = std::string("starting the firmware failed: ") + libusb_error_name(rc);
            return false;
        }
        return true;
    }

  private:
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    bool claimed_ = false;
    bool boot_loader_ = false;
};

}  // namespace

std::unique_ptr<Fx3Backend> fx3_libusb_backend() {
    return std::make_unique<LibusbFx3>();
}
