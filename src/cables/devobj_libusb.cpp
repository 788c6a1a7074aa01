// Device objects on real cables through libusb-1.0: one context and one claimed interface per
// open handle, each pipe a bulk endpoint (see devobj.h).
#include <libusb.h>

#include <algorithm>
#include <cstring>

#include "cables/devobj_backend.h"

namespace {

constexpr uint16_t kMakerVendor = 0x2129;
// The maker's FX3 boards share the vendor id but speak the USB 3.0 protocol.
constexpr uint16_t kFx3Products[] = {0x0640, 0x0520};
constexpr unsigned kControlTimeoutMs = 1000;
constexpr unsigned kStreamTimeoutMs = 10000;

struct Endpoint {
    uint8_t address;
    unsigned timeout_ms;
};

bool endpoint_of(uint32_t pipe, Endpoint* ep) {
    switch (pipe) {
        case 0:
            *ep = {0x02, kStreamTimeoutMs};
            return true;
        case 2:
            *ep = {0x86, kStreamTimeoutMs};
            return true;
        case 4:
            *ep = {0x04, kControlTimeoutMs};
            return true;
        case 5:
            *ep = {0x88, kControlTimeoutMs};
            return true;
        default:
            return false;
    }
}

bool is_usb2_cable(libusb_device* device) {
    libusb_device_descriptor d;
    if (libusb_get_device_descriptor(device, &d) != 0 || d.idVendor != kMakerVendor) return false;
    for (uint16_t pid : kFx3Products)
        if (d.idProduct == pid) return false;
    return true;
}

class LibusbDevice : public DevobjDevice {
  public:
    LibusbDevice(libusb_context* context, libusb_device_handle* handle)
        : context_(context), handle_(handle) {}
    ~LibusbDevice() override {
        libusb_release_interface(handle_, 0);
        libusb_close(handle_);
        libusb_exit(context_);
    }
    LibusbDevice(const LibusbDevice&) = delete;
    LibusbDevice& operator=(const LibusbDevice&) = delete;

    bool write(uint32_t pipe, const uint8_t* data, uint32_t size, uint32_t* returned) override {
        Endpoint ep;
        if (!endpoint_of(pipe, &ep) || (ep.address & LIBUSB_ENDPOINT_IN)) return false;
        return bulk(ep, const_cast<uint8_t*>(data), size, returned);
    }

    bool read(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t* returned) override {
        Endpoint ep;
        if (!endpoint_of(pipe, &ep) || !(ep.address & LIBUSB_ENDPOINT_IN)) return false;
        return bulk(ep, data, size, returned);
    }

    bool string_descriptor(uint8_t index, uint16_t language, uint8_t* data, uint32_t size,
                           uint32_t* returned) override {
        const int n = libusb_get_string_descriptor(handle_, index, language, data,
                                                   static_cast<int>(std::min(size, 255u)));
        if (n < 0) return false;
        *returned = static_cast<uint32_t>(n);
        return true;
    }

  private:
    bool bulk(const Endpoint& ep, uint8_t* data, uint32_t size, uint32_t* returned) {
        int moved = 0;
        const int rc = libusb_bulk_transfer(handle_, ep.address, data, static_cast<int>(size),
                                            &moved, ep.timeout_ms);
        if (rc != 0) return false;  // a time-out included, even when some bytes moved
        *returned = static_cast<uint32_t>(moved);
        return true;
    }

    libusb_context* context_;
    libusb_device_handle* handle_;
};

}  // namespace

std::unique_ptr<DevobjDevice> devobj_libusb_open(const std::string& name) {
    const int index = devobj_name_index(name, nullptr);
    if (index < 0) return nullptr;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return nullptr;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device_handle* handle = nullptr;
    for (ssize_t i = 0, seen = 0; i < count; ++i) {
        if (!is_usb2_cable(list[i]) || seen++ != index) continue;
        if (libusb_open(list[i], &handle) != 0) handle = nullptr;
        break;
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    if (handle) {
        libusb_set_auto_detach_kernel_driver(handle, 1);
        if (libusb_claim_interface(handle, 0) == 0) {
            return std::make_unique<LibusbDevice>(context, handle);
        }
        libusb_close(handle);
    }
    libusb_exit(context);
    return nullptr;
}
