// Device objects on real cables through libusb-1.0: one opened device with its interface claimed
// per handle, each pipe a bulk endpoint (see devobj.h).

#include "cables/devobj.h"
#include "cables/devobj_backend.h"
#include "cables/usb_ids.h"
#include "cables/usb_libusb.h"

namespace {

constexpr unsigned kControlTimeoutMs = 1000;
constexpr unsigned kStreamTimeoutMs = 10000;

struct Endpoint {
    uint8_t address;
    unsigned timeout_ms;
};

bool endpoint_of(uint32_t pipe, Endpoint* ep) {
    switch (pipe) {
        case DEVOBJ_PIPE_STREAM_OUT:
            *ep = {0x02, kStreamTimeoutMs};
            return true;
        case DEVOBJ_PIPE_STREAM_IN:
            *ep = {0x86, kStreamTimeoutMs};
            return true;
        case DEVOBJ_PIPE_CONTROL_OUT:
            *ep = {0x04, kControlTimeoutMs};
            return true;
        case DEVOBJ_PIPE_CONTROL_IN:
            *ep = {0x88, kControlTimeoutMs};
            return true;
        default:
            return false;
    }
}

// A time-out fails the call even when some bytes moved.
bool moved(const usb::Transfer& t, uint32_t* returned) {
    if (!t.ok()) return false;
    *returned = static_cast<uint32_t>(t.moved);
    return true;
}

class LibusbDevice : public DevobjDevice {
  public:
    explicit LibusbDevice(std::unique_ptr<usb::Device> usb) : usb_(std::move(usb)) {}

    // A pipe of the other direction fails inside bulk_out / bulk_in.
    bool write(uint32_t pipe, const uint8_t* data, uint32_t size, uint32_t* returned) override {
        Endpoint ep;
        if (!endpoint_of(pipe, &ep)) return false;
        if (pipe == DEVOBJ_PIPE_STREAM_OUT)
            return moved(
                usb_->queue_out(ep.address, {data, size}, kDevobjStreamWindow, ep.timeout_ms),
                returned);
        return usb_->drain().ok() &&
               moved(usb_->bulk_out(ep.address, {data, size}, ep.timeout_ms), returned);
    }

    bool read(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t* returned) override {
        Endpoint ep;
        return endpoint_of(pipe, &ep) && usb_->drain().ok() &&
               moved(usb_->bulk_in(ep.address, {data, size}, ep.timeout_ms), returned);
    }

    // Neither waits for the queued stream writes: the reads are posted before the writes whose
    // replies they take, and the cable may take no more of those writes until its replies have
    // somewhere to go. A collect still fails for a queued write that has failed by then.
    bool post_reads(uint32_t pipe, uint32_t size, uint32_t count) override {
        Endpoint ep;
        return endpoint_of(pipe, &ep) &&
               usb_->post_bulk_in(ep.address, size, count, ep.timeout_ms).ok();
    }

    bool collect_reads(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t count,
                       uint32_t* returned) override {
        Endpoint ep;
        if (!endpoint_of(pipe, &ep)) return false;
        const usb::Transfer t = usb_->collect_bulk_in({data, size * size_t{count}});
        return usb_->queued_failure().ok() && moved(t, returned);
    }

    bool string_descriptor(uint8_t index, uint16_t language, uint8_t* data, uint32_t size,
                           uint32_t* returned) override {
        const int n = usb_->string_descriptor(index, language, {data, size});
        if (n < 0) return false;
        *returned = static_cast<uint32_t>(n);
        return true;
    }

  private:
    std::unique_ptr<usb::Device> usb_;
};

}  // namespace

std::unique_ptr<DevobjDevice> devobj_libusb_open(const std::string& name) {
    const int index = devobj_name_index(name, nullptr);
    if (index < 0) return nullptr;
    std::unique_ptr<usb::Device> usb = usb::Device::open(is_usb2_cable, index);
    if (!usb) return nullptr;
    return std::make_unique<LibusbDevice>(std::move(usb));
}
