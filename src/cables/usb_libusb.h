// libusb-1.0 for the USB back-ends: opens the n-th device whose ids match with its interface 0
// claimed (a kernel driver bound to it is detached and given back on close), and moves bulk and
// control transfers, each bounded by a time-out, with failures named as libusb names them.
// Bulk OUT transfers can also be queued, a bounded window of them in flight at once, and bulk IN
// transfers posted ahead and collected later.
// Everything a Device opened is released, in reverse order, when it goes.
// With several devices plugged in, a front end chooses one (by its place on the bus or its serial
// number) before anything opens: every open then sees that device alone.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct libusb_context;
struct libusb_device_handle;

namespace usb {

// The ids a back-end takes.
using IdMatch = bool (*)(uint16_t vid, uint16_t pid);

// Where a device sits: its bus and the hub ports from the root hub down to it.
struct Place {
    uint8_t bus = 0;
    std::vector<uint8_t> ports;
    bool operator==(const Place&) const = default;
    // "BUS:PORT" with the ports dotted: "1:2", "3:1.4".
    std::string text() const;
};

// Reads a place in its text form: bus 1..255, then 1 to 7 ports of 1..255, decimal. False with a
// one-line reason in *error (when given) for anything else.
bool parse_place(std::string_view text, Place* place, std::string* error);

// One present device, as listed without claiming it.
struct Listed {
    uint16_t vid = 0, pid = 0;
    Place place;
    std::string place_text;  // place.text()
    std::string serial;      // empty when the device has none or could not be opened
    std::string product;     // likewise
};

// Every present device whose ids match, ordered by place (bus, then hub ports); the strings are
// read through a short open that claims nothing and detaches no driver. 0, or the negative libusb
// error code that kept the bus from being read (the list is then empty).
int list_devices(IdMatch match, std::vector<Listed>* devices);

// The device every later open takes, for the whole process. With a place or a serial number
// chosen, the device chosen (the first by place with that serial) is the only one there is:
// it is the index-0 device of every id match it fits, and when it is not present nothing is.
struct Choice {
    enum class By { Any, Place, Serial };
    By by = By::Any;  // Any: every matching device counts, by place
    Place place;
    std::string serial;
};
void choose_device(const Choice& choice);
Choice chosen_device();

// "LIBUSB_ERROR_OTHER" and the like for a libusb result code.
const char* error_name(int rc);

// What one transfer did: rc is 0 or a negative libusb error code; moved counts the bytes that
// moved, which may be some even when the transfer timed out.
struct Transfer {
    int rc = 0;
    int moved = 0;
    bool ok() const { return rc == 0; }
    // "LIBUSB_ERROR_TIMEOUT" and the like; "LIBUSB_SUCCESS" when ok.
    const char* error_name() const;
};

class Device {
    struct Key {
        explicit Key() = default;
    };

  public:
    // The index-th device (counted from 0, by place: bus, then hub ports) whose ids match, opened
    // and with interface 0 claimed. Null when there is no such device or it cannot be opened.
    static std::unique_ptr<Device> open(IdMatch match, int index);

    explicit Device(Key);  // only open() makes one
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    uint16_t vendor() const { return vid_; }
    uint16_t product() const { return pid_; }
    // The product string in ASCII; empty when the device has none or does not answer.
    std::string product_text();
    // String descriptor `index` in `language`, raw (length byte, type byte, UTF-16LE) into data,
    // at most 255 bytes: the byte count, or a negative libusb error code.
    int string_descriptor(uint8_t index, uint16_t language, std::span<uint8_t> data);

    // Bulk transfers on an OUT or an IN endpoint; the wrong direction fails as an invalid
    // parameter without reaching the device.
    Transfer bulk_out(uint8_t endpoint, std::span<const uint8_t> data, unsigned timeout_ms);
    Transfer bulk_in(uint8_t endpoint, std::span<uint8_t> data, unsigned timeout_ms);
    // Bulk IN transfers posted ahead of the OUT transfers whose replies they take: `count` of
    // `each` bytes, submitted now with buffers of their own, waiting for nothing (queued OUT
    // transfers included), so that a device with few IN buffers always finds a transfer to hand
    // its next reply to. Posted transfers are on one IN endpoint at a time (another fails as an
    // invalid parameter). After a failure, this and every later post and collect give it.
    Transfer post_bulk_in(uint8_t endpoint, size_t each, size_t count, unsigned timeout_ms);
    // data.size() bytes from the posted transfers, oldest first: each is waited for in turn (a
    // short packet ends one, the next goes on), and what a transfer holds beyond data is kept for
    // the next collect, so the posted transfers read as one stream. moved is short only when the
    // posted transfers ran out. The first failure fails the call (moved then counts the bytes
    // before it) and cancels every posted transfer; each ends before its buffer goes, as they do
    // when the device goes. Waits for no OUT transfer.
    Transfer collect_bulk_in(std::span<uint8_t> data);
    // A bulk OUT transfer queued without waiting for it, its data copied, with at most `window`
    // transfers in flight: a full window first waits for its oldest. After a transfer in the
    // window failed (error, time-out, or a short transfer), this and every later queue_out and
    // drain give that failure.
    Transfer queue_out(uint8_t endpoint, std::span<const uint8_t> data, size_t window,
                       unsigned timeout_ms);
    // Waits until every queued transfer has ended: ok, or the first failure among them.
    Transfer drain();
    // The first failure among the queued transfers that have ended by now, waiting for none.
    Transfer queued_failure();
    // A vendor request from host to device, with data (up to 65535 bytes) or without.
    Transfer vendor_out(uint8_t request, uint16_t value, uint16_t index,
                        std::span<const uint8_t> data, unsigned timeout_ms);

  private:
    struct ContextRelease {
        void operator()(libusb_context* context) const;
    };
    struct HandleClose {
        void operator()(libusb_device_handle* handle) const;
    };
    class Claim;
    class OutQueue;
    class InQueue;

    // Released in reverse order: the interface, the handle, the context.
    std::unique_ptr<libusb_context, ContextRelease> context_;
    std::unique_ptr<libusb_device_handle, HandleClose> handle_;
    std::unique_ptr<Claim> claim_;
    std::unique_ptr<InQueue> posted_;  // cancelled once the OUT transfers have ended
    std::unique_ptr<OutQueue> queue_;  // goes first, its IN transfers still posted for replies
    uint16_t vid_ = 0, pid_ = 0;
    uint8_t product_string_ = 0;
};

}  // namespace usb
