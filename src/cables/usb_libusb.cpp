#include "cables/usb_libusb.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <tuple>
#include <vector>

#include "jtag/msg.h"

namespace usb {

namespace {

constexpr int kInterface = 0;
// Request type of a vendor request from host to device: OUT, vendor, to the device.
constexpr uint8_t kVendorToDevice = 0x40;

struct DeviceListRelease {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};

struct ContextExit {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};

struct ChoiceHeld {
    std::mutex mutex;
    Choice choice;
};

ChoiceHeld& choice_held() {
    static ChoiceHeld held;
    return held;
}

constexpr size_t kMaxPorts = 7;  // the deepest hub chain USB allows

Place place_of(libusb_device* device) {
    Place place;
    place.bus = libusb_get_bus_number(device);
    uint8_t ports[kMaxPorts] = {};
    const int count = libusb_get_port_numbers(device, ports, static_cast<int>(kMaxPorts));
    if (count > 0) place.ports.assign(ports, ports + count);
    return place;
}

// String descriptor `index` in ASCII; empty when there is none or the device does not answer.
std::string string_text(libusb_device_handle* handle, uint8_t index) {
    unsigned char text[256] = {};
    if (!index) return "";
    const int size = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text - 1);
    return size > 0 ? std::string(reinterpret_cast<const char*>(text), size) : "";
}

bool by_place(const Place& a, const Place& b) {
    return std::tie(a.bus, a.ports) < std::tie(b.bus, b.ports);
}

// Tells the user why a device that is there cannot be used, where the reason is theirs to
// mend: another program holds it, or the udev rules that let users open it are missing. A
// connect looks at the same device more than once (for a boot loader, then for a board); the
// reason is told once.
void explain_refusal(int rc, libusb_device* device, const libusb_device_descriptor& desc) {
    char text[256];
    const std::string place = place_of(device).text();
    if (rc == LIBUSB_ERROR_BUSY)
        std::snprintf(text, sizeof text, "USB device %s (%04X:%04X) is in use by another program",
                      place.c_str(), desc.idVendor, desc.idProduct);
    else if (rc == LIBUSB_ERROR_ACCESS)
        std::snprintf(text, sizeof text,
                      "No permission to use USB device %s (%04X:%04X): install the udev rules "
                      "(60-vireojtag.rules) and log in at the machine or join plugdev",
                      place.c_str(), desc.idVendor, desc.idProduct);
    else
        return;
    static std::mutex mutex;
    static std::string last;
    static std::chrono::steady_clock::time_point when;
    std::lock_guard lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (text == last && now - when < std::chrono::seconds(2)) return;
    last = text;
    when = now;
    msg_print("%s\n", text);
}

// The devices of the list whose ids match, ordered by place: the order vireo --list shows and
// indexes count in, the same on every run whatever order the bus reports.
std::vector<libusb_device*> matching_by_place(libusb_device** list, ssize_t count, IdMatch match) {
    std::vector<std::pair<Place, libusb_device*>> found;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) == 0 &&
            match(desc.idVendor, desc.idProduct))
            found.emplace_back(place_of(list[i]), list[i]);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return by_place(a.first, b.first); });
    std::vector<libusb_device*> devices;
    for (const auto& f : found) devices.push_back(f.second);
    return devices;
}

// Opens the index-th matching device of the context; its descriptor into *desc. A device chosen
// by place or serial number is the only one counted, and only as index 0.
libusb_device_handle* open_nth(libusb_context* context, IdMatch match, int index,
                               libusb_device_descriptor* desc) {
    const Choice choice = chosen_device();
    if (choice.by != Choice::By::Any && index != 0) return nullptr;
    libusb_device** raw = nullptr;
    const ssize_t count = libusb_get_device_list(context, &raw);
    if (count < 0) return nullptr;
    const std::unique_ptr<libusb_device*, DeviceListRelease> list(raw);
    for (libusb_device* device : matching_by_place(raw, count, match)) {
        if (libusb_get_device_descriptor(device, desc) != 0) continue;
        if (choice.by == Choice::By::Place && place_of(device) != choice.place) continue;
        if (choice.by == Choice::By::Any && index-- > 0) continue;
        libusb_device_handle* handle = nullptr;
        if (const int rc = libusb_open(device, &handle); rc != 0) {
            // A device we may not open cannot show its serial number: not the chosen one.
            if (choice.by == Choice::By::Serial) continue;
            explain_refusal(rc, device, *desc);
            return nullptr;
        }
        if (choice.by == Choice::By::Serial &&
            string_text(handle, desc->iSerialNumber) != choice.serial) {
            libusb_close(handle);
            continue;
        }
        return handle;
    }
    return nullptr;
}

bool parse_number(std::string_view digits, uint8_t* value) {
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    int n = 0;
    for (const char c : digits) n = n * 10 + (c - '0');
    if (n < 1 || n > 255) return false;
    *value = static_cast<uint8_t>(n);
    return true;
}

Transfer bulk(libusb_device_handle* handle, uint8_t endpoint, uint8_t* data, size_t size,
              unsigned timeout_ms) {
    if (size > INT_MAX) return {LIBUSB_ERROR_INVALID_PARAM, 0};
    Transfer t;
    t.rc =
        libusb_bulk_transfer(handle, endpoint, data, static_cast<int>(size), &t.moved, timeout_ms);
    return t;
}

// A kernel driver detached from the interface while we hold it; given back when this goes.
class DetachedDriver {
  public:
    explicit DetachedDriver(libusb_device_handle* handle) : handle_(handle) {}
    ~DetachedDriver() {
        if (detached_) libusb_attach_kernel_driver(handle_, kInterface);
    }
    DetachedDriver(const DetachedDriver&) = delete;
    DetachedDriver& operator=(const DetachedDriver&) = delete;
    // Detaches the driver bound to the interface, if any. Platforms without kernel drivers
    // to detach report that as not supported, which is no failure.
    bool detach() {
        const int active = libusb_kernel_driver_active(handle_, kInterface);
        if (active == LIBUSB_ERROR_NOT_SUPPORTED || active == 0) return true;
        detached_ = active == 1 && libusb_detach_kernel_driver(handle_, kInterface) == 0;
        return detached_;
    }

  private:
    libusb_device_handle* handle_;
    bool detached_ = false;
};

// One bulk transfer of the asynchronous API with a buffer of its own; the completion callback
// only marks it done, and the events are handled on the caller's thread (wait_done). A transfer
// whose end never comes is left to libusb, its buffer with it.
struct Pending {
    libusb_transfer* transfer = nullptr;
    std::vector<uint8_t> data;
    bool done = false;
    ~Pending() { libusb_free_transfer(transfer); }
};

void LIBUSB_CALL mark_done(libusb_transfer* transfer) {
    static_cast<Pending*>(transfer->user_data)->done = true;
}

// Submits p's buffer as a bulk transfer: 0 or a libusb error.
int submit(libusb_device_handle* handle, uint8_t endpoint, Pending& p, unsigned timeout_ms) {
    if (p.data.size() > INT_MAX) return LIBUSB_ERROR_INVALID_PARAM;
    p.transfer = libusb_alloc_transfer(0);
    if (!p.transfer) return LIBUSB_ERROR_NO_MEM;
    libusb_fill_bulk_transfer(p.transfer, handle, endpoint, p.data.data(),
                              static_cast<int>(p.data.size()), &mark_done, &p, timeout_ms);
    return libusb_submit_transfer(p.transfer);
}

// How a transfer ended, as a libusb error code; a short OUT transfer is an error, a short IN
// transfer (ended by a short packet) is not.
int error_of(const libusb_transfer& t) {
    switch (t.status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return (t.endpoint & LIBUSB_ENDPOINT_IN) || t.actual_length == t.length
                       ? 0
                       : LIBUSB_ERROR_IO;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return LIBUSB_ERROR_TIMEOUT;
        case LIBUSB_TRANSFER_STALL:
            return LIBUSB_ERROR_PIPE;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return LIBUSB_ERROR_NO_DEVICE;
        case LIBUSB_TRANSFER_OVERFLOW:
            return LIBUSB_ERROR_OVERFLOW;
        default:
            return LIBUSB_ERROR_IO;
    }
}

constexpr int kEventFailures = 10;

// Handles events until p has ended; each transfer carries its own time-out, so this ends. 0, or
// the error of an event loop that failed: p is then cancelled, and when even that never
// completes the wait gives up and *abandoned is set (p must then be left to libusb).
int wait_done(libusb_context* context, Pending& p, bool* abandoned) {
    int failure = 0;
    *abandoned = false;
    for (int failures = 0; !p.done;) {
        timeval tv{1, 0};
        const int rc = libusb_handle_events_timeout_completed(context, &tv, nullptr);
        if (rc == 0 || rc == LIBUSB_ERROR_INTERRUPTED || p.done) continue;
        if (failure == 0) failure = rc;
        libusb_cancel_transfer(p.transfer);
        if (++failures >= kEventFailures) {
            *abandoned = true;
            break;
        }
    }
    return failure;
}

}  // namespace

// The claimed interface: released, then its kernel driver given back, when this goes.
class Device::Claim {
  public:
    explicit Claim(libusb_device_handle* handle) : handle_(handle), driver_(handle) {}
    ~Claim() {
        if (claimed_) libusb_release_interface(handle_, kInterface);
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    // 0, or the libusb error that kept the interface from being claimed.
    int take() {
        if (!driver_.detach()) return LIBUSB_ERROR_BUSY;  // a kernel driver holds it
        const int rc = libusb_claim_interface(handle_, kInterface);
        claimed_ = rc == 0;
        return rc;
    }

  private:
    libusb_device_handle* handle_;
    DetachedDriver driver_;
    bool claimed_ = false;
};

// Queued OUT transfers, oldest first, each with a copy of its data.
class Device::OutQueue {
  public:
    explicit OutQueue(libusb_context* context) : context_(context) {}
    ~OutQueue() {
        // What was queued still goes out (a driver's last command before it closes, such as
        // leaving JTAG mode); each transfer's own time-out bounds the wait, and a transfer in
        // flight must end before its memory goes.
        while (!pending_.empty()) wait_oldest();
    }
    OutQueue(const OutQueue&) = delete;
    OutQueue& operator=(const OutQueue&) = delete;

    Transfer queue(libusb_device_handle* handle, uint8_t endpoint, std::span<const uint8_t> data,
                   size_t window, unsigned timeout_ms) {
        while (failure_.ok() && !pending_.empty() && pending_.size() >= std::max<size_t>(window, 1))
            wait_oldest();
        if (!failure_.ok()) return failure_;
        if (data.size() > INT_MAX) return {LIBUSB_ERROR_INVALID_PARAM, 0};
        auto p = std::make_unique<Pending>();
        p->data.assign(data.begin(), data.end());
        if (const int rc = submit(handle, endpoint, *p, timeout_ms); rc != 0)
            return failure_ = {rc, 0};
        pending_.push_back(std::move(p));
        return {0, static_cast<int>(data.size())};
    }

    Transfer drain() {
        while (!pending_.empty()) wait_oldest();
        return failure_;
    }

    // Takes the transfers that have ended off the front of the queue, waiting for none.
    Transfer ended() {
        while (failure_.ok() && !pending_.empty() && pending_.front()->done) wait_oldest();
        return failure_;
    }

  private:
    // Waits for the oldest transfer, then takes it off the queue.
    void wait_oldest() {
        Pending& oldest = *pending_.front();
        bool abandoned = false;
        const int loop = wait_done(context_, oldest, &abandoned);
        if (failure_.ok() && loop != 0) failure_ = {loop, 0};
        if (abandoned) (void)pending_.front().release();
        if (!abandoned && failure_.ok()) {
            const int rc = error_of(*oldest.transfer);
            if (rc != 0) failure_ = {rc, oldest.transfer->actual_length};
        }
        pending_.pop_front();
    }

    libusb_context* context_;
    std::deque<std::unique_ptr<Pending>> pending_;
    Transfer failure_;  // ok until a queued transfer fails
};

// Posted IN transfers, oldest first, on one endpoint; their bytes are handed out as one stream.
class Device::InQueue {
  public:
    explicit InQueue(libusb_context* context) : context_(context) {}
    ~InQueue() { cancel(); }
    InQueue(const InQueue&) = delete;
    InQueue& operator=(const InQueue&) = delete;

    Transfer post(libusb_device_handle* handle, uint8_t endpoint, size_t each, size_t count,
                  unsigned timeout_ms) {
        if (!failure_.ok()) return failure_;
        if (!posted_.empty() && endpoint != endpoint_) return {LIBUSB_ERROR_INVALID_PARAM, 0};
        endpoint_ = endpoint;
        for (size_t i = 0; i < count; ++i) {
            auto p = std::make_unique<Pending>();
            p->data.resize(each);
            if (const int rc = submit(handle, endpoint, *p, timeout_ms); rc != 0) {
                cancel();  // p never went out
                return failure_ = {rc, 0};
            }
            posted_.push_back({std::move(p), 0, false});
        }
        return {};
    }

    Transfer collect(std::span<uint8_t> data) {
        size_t got = 0;
        while (failure_.ok() && got < data.size() && !posted_.empty()) {
            Posted& oldest = posted_.front();
            if (!oldest.ended && !end(oldest)) break;
            const auto length = static_cast<size_t>(oldest.pending->transfer->actual_length);
            const size_t n = std::min(length - oldest.taken, data.size() - got);
            std::copy_n(oldest.pending->data.begin() + static_cast<ptrdiff_t>(oldest.taken), n,
                        data.begin() + static_cast<ptrdiff_t>(got));
            got += n;
            oldest.taken += n;
            if (oldest.taken == length) posted_.pop_front();
        }
        if (failure_.ok()) return {0, static_cast<int>(got)};
        cancel();
        return {failure_.rc, static_cast<int>(got)};
    }

  private:
    struct Posted {
        std::unique_ptr<Pending> pending;
        size_t taken;  // bytes handed out
        bool ended;    // waited for, and it succeeded
    };

    // Waits for t: true when it succeeded, else false with failure_ set.
    bool end(Posted& t) {
        bool abandoned = false;
        int rc = wait_done(context_, *t.pending, &abandoned);
        if (abandoned) {
            (void)t.pending.release();  // libusb still holds it
            posted_.pop_front();
        } else if (rc == 0) {
            rc = error_of(*t.pending->transfer);
        }
        if (rc != 0 || abandoned) {
            failure_ = {rc != 0 ? rc : LIBUSB_ERROR_IO, 0};
            return false;
        }
        t.ended = true;
        return true;
    }

    // Cancels what is still in flight, then lets each end before its buffer goes.
    void cancel() {
        for (Posted& t : posted_)
            if (!t.pending->done) libusb_cancel_transfer(t.pending->transfer);
        for (Posted& t : posted_) {
            bool abandoned = false;
            (void)wait_done(context_, *t.pending, &abandoned);
            if (abandoned) (void)t.pending.release();
        }
        posted_.clear();
    }

    libusb_context* context_;
    std::deque<Posted> posted_;
    uint8_t endpoint_ = 0;
    Transfer failure_;  // ok until a posted transfer fails
};

std::string Place::text() const {
    std::string text = std::to_string(bus) + ":";
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i) text += '.';
        text += std::to_string(ports[i]);
    }
    return text;
}

bool parse_place(std::string_view text, Place* place, std::string* error) {
    std::string reason;
    std::string quoted(1, '\'');
    quoted.append(text).push_back('\'');
    Place read;
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        reason = quoted + " is not BUS:PORT (such as 1:2 or 3:1.4)";
    } else if (!parse_number(text.substr(0, colon), &read.bus)) {
        reason = quoted + ": the bus is not a number from 1 to 255";
    } else {
        std::string_view rest = text.substr(colon + 1);
        while (reason.empty()) {
            const size_t dot = rest.find('.');
            uint8_t port = 0;
            if (read.ports.size() == kMaxPorts) {
                reason = quoted + ": more than 7 ports";
            } else if (!parse_number(rest.substr(0, dot), &port)) {
                reason = quoted + ": a port is not a number from 1 to 255";
            } else {
                read.ports.push_back(port);
                if (dot == std::string_view::npos) break;
                rest = rest.substr(dot + 1);
            }
        }
    }
    if (!reason.empty()) {
        if (error) *error = reason;
        return false;
    }
    if (place) *place = std::move(read);
    if (error) error->clear();
    return true;
}

int list_devices(IdMatch match, std::vector<Listed>* devices) {
    devices->clear();
    if (!match) return LIBUSB_ERROR_INVALID_PARAM;
    libusb_context* raw_context = nullptr;
    if (const int rc = libusb_init(&raw_context); rc != 0) return rc;
    const std::unique_ptr<libusb_context, ContextExit> context(raw_context);
    libusb_device** raw = nullptr;
    const ssize_t count = libusb_get_device_list(context.get(), &raw);
    if (count < 0) return static_cast<int>(count);
    const std::unique_ptr<libusb_device*, DeviceListRelease> list(raw);
    for (libusb_device* device : matching_by_place(raw, count, match)) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(device, &desc) != 0) continue;
        Listed listed;
        listed.vid = desc.idVendor;
        listed.pid = desc.idProduct;
        listed.place = place_of(device);
        listed.place_text = listed.place.text();
        libusb_device_handle* handle = nullptr;
        if (libusb_open(device, &handle) == 0) {
            listed.serial = string_text(handle, desc.iSerialNumber);
            listed.product = string_text(handle, desc.iProduct);
            libusb_close(handle);
        }
        devices->push_back(std::move(listed));
    }
    return 0;
}

void choose_device(const Choice& choice) {
    ChoiceHeld& held = choice_held();
    std::lock_guard lock(held.mutex);
    held.choice = choice;
}

Choice chosen_device() {
    ChoiceHeld& held = choice_held();
    std::lock_guard lock(held.mutex);
    return held.choice;
}

const char* error_name(int rc) {
    return libusb_error_name(rc);
}

const char* Transfer::error_name() const {
    return libusb_error_name(rc);
}

void Device::ContextRelease::operator()(libusb_context* context) const {
    libusb_exit(context);
}
void Device::HandleClose::operator()(libusb_device_handle* handle) const {
    libusb_close(handle);
}

std::unique_ptr<Device> Device::open(IdMatch match, int index) {
    if (!match || index < 0) return nullptr;
    auto device = std::make_unique<Device>(Key{});
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return nullptr;
    device->context_.reset(context);
    libusb_device_descriptor desc{};
    device->handle_.reset(open_nth(context, match, index, &desc));
    if (!device->handle_) return nullptr;
    device->claim_ = std::make_unique<Claim>(device->handle_.get());
    if (const int rc = device->claim_->take(); rc != 0) {
        explain_refusal(rc, libusb_get_device(device->handle_.get()), desc);
        return nullptr;
    }
    device->vid_ = desc.idVendor;
    device->pid_ = desc.idProduct;
    device->product_string_ = desc.iProduct;
    return device;
}

Device::Device(Key) {}
Device::~Device() = default;

std::string Device::product_text() {
    unsigned char text[128] = {};
    if (!product_string_ || libusb_get_string_descriptor_ascii(handle_.get(), product_string_, text,
                                                               sizeof text - 1) <= 0)
        return "";
    return reinterpret_cast<const char*>(text);
}

int Device::string_descriptor(uint8_t index, uint16_t language, std::span<uint8_t> data) {
    const int size = static_cast<int>(std::min<size_t>(data.size(), 255));
    return libusb_get_string_descriptor(handle_.get(), index, language, data.data(), size);
}

Transfer Device::bulk_out(uint8_t endpoint, std::span<const uint8_t> data, unsigned timeout_ms) {
    if (endpoint & LIBUSB_ENDPOINT_IN) return {LIBUSB_ERROR_INVALID_PARAM, 0};
    // libusb takes one buffer type for both directions; it only reads an OUT transfer's.
    return bulk(handle_.get(), endpoint, const_cast<uint8_t*>(data.data()), data.size(),
                timeout_ms);
}

Transfer Device::bulk_in(uint8_t endpoint, std::span<uint8_t> data, unsigned timeout_ms) {
    if (!(endpoint & LIBUSB_ENDPOINT_IN)) return {LIBUSB_ERROR_INVALID_PARAM, 0};
    return bulk(handle_.get(), endpoint, data.data(), data.size(), timeout_ms);
}

Transfer Device::post_bulk_in(uint8_t endpoint, size_t each, size_t count, unsigned timeout_ms) {
    if (!(endpoint & LIBUSB_ENDPOINT_IN) || each == 0 || each > INT_MAX)
        return {LIBUSB_ERROR_INVALID_PARAM, 0};
    if (!posted_) posted_ = std::make_unique<InQueue>(context_.get());
    return posted_->post(handle_.get(), endpoint, each, count, timeout_ms);
}

Transfer Device::collect_bulk_in(std::span<uint8_t> data) {
    if (data.size() > INT_MAX) return {LIBUSB_ERROR_INVALID_PARAM, 0};
    return posted_ ? posted_->collect(data) : Transfer{};
}

Transfer Device::queue_out(uint8_t endpoint, std::span<const uint8_t> data, size_t window,
                           unsigned timeout_ms) {
    if (endpoint & LIBUSB_ENDPOINT_IN) return {LIBUSB_ERROR_INVALID_PARAM, 0};
    if (!queue_) queue_ = std::make_unique<OutQueue>(context_.get());
    return queue_->queue(handle_.get(), endpoint, data, window, timeout_ms);
}

Transfer Device::drain() {
    return queue_ ? queue_->drain() : Transfer{};
}

Transfer Device::queued_failure() {
    return queue_ ? queue_->ended() : Transfer{};
}

Transfer Device::vendor_out(uint8_t request, uint16_t value, uint16_t index,
                            std::span<const uint8_t> data, unsigned timeout_ms) {
    if (data.size() > UINT16_MAX) return {LIBUSB_ERROR_INVALID_PARAM, 0};
    const int rc = libusb_control_transfer(handle_.get(), kVendorToDevice, request, value, index,
                                           const_cast<uint8_t*>(data.data()),
                                           static_cast<uint16_t>(data.size()), timeout_ms);
    return rc < 0 ? Transfer{rc, 0} : Transfer{0, rc};
}

}  // namespace usb
