#include "support/emulated_usb.h"

#include <dlfcn.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "sim/fx3_bootloader.h"
#include "sim/fx3_firmware.h"
#include "sim/usb2_firmware.h"

namespace vireo::test {

namespace {

using sim::TransportKind;

constexpr uint16_t kMakerVendor = 0x2129;
constexpr uint16_t kUsb2BoardProduct = 0x0101;
constexpr uint16_t kUsb2CableProduct = 0x0102;
constexpr uint8_t kBootRequest = 0xA0;

// Pipes of the USB 2.0 firmware by endpoint address.
int usb2_pipe(uint8_t endpoint) {
    switch (endpoint) {
        case 0x02:
            return 0;
        case 0x86:
            return 2;
        case 0x04:
            return 4;
        case 0x88:
            return 5;
        default:
            return -1;
    }
}

std::vector<uint8_t> string_descriptor(const std::string& text) {
    std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) d.insert(d.end(), {static_cast<uint8_t>(c), 0});
    return d;
}

void put16(std::vector<uint8_t>& d, uint16_t v) {
    d.push_back(static_cast<uint8_t>(v));
    d.push_back(static_cast<uint8_t>(v >> 8));
}

// What a device shows on the bus.
struct Identity {
    uint16_t vid = 0, pid = 0;
    bool superspeed = false;
    std::vector<uint8_t> endpoints;  // bulk endpoint addresses of interface 0
    std::string manufacturer, product;
};

Identity identity_of(const sim::VirtualBoard& board) {
    const sim::Transport& t = board.preset().transport;
    Identity id;
    switch (t.kind) {
        case TransportKind::Fx3Board:
            id = {t.vid,        t.pid,
                  t.superspeed, {0x02, 0x82},
                  "Norvale",    t.pid == 0x0640 ? "Norvale Artix-7 Board" : "Norvale FX-3 Board"};
            break;
        case TransportKind::Fx3BootLoader:
            id = {t.vid, t.pid, false, {}, "Cypress", "WestBridge"};
            break;
        case TransportKind::Usb2Board:
        case TransportKind::Usb2Cable:
            id = {kMakerVendor,
                  t.kind == TransportKind::Usb2Board ? kUsb2BoardProduct : kUsb2CableProduct,
                  false,
                  {0x02, 0x86, 0x04, 0x88},
                  "Norvale",
                  t.name};
            break;
    }
    return id;
}

// Device descriptor and the one configuration, as sysfs "descriptors" holds them.
std::vector<uint8_t> descriptors(const Identity& id, bool has_serial) {
    std::vector<uint8_t> d{18, 1};
    put16(d, id.superspeed ? 0x0300 : 0x0200);
    d.insert(d.end(), {0, 0, 0, static_cast<uint8_t>(id.superspeed ? 9 : 64)});
    put16(d, id.vid);
    put16(d, id.pid);
    put16(d, 0x0100);
    d.insert(d.end(), {1, 2, static_cast<uint8_t>(has_serial ? 3 : 0), 1});
    const auto n = static_cast<uint8_t>(id.endpoints.size());
    d.insert(d.end(), {9, 2});
    put16(d, static_cast<uint16_t>(9 + 9 + 7 * n));
    d.insert(d.end(), {1, 1, 0, 0x80, 50});
    d.insert(d.end(), {9, 4, 0, 0, n, 0xFF, 0, 0, 0});
    for (uint8_t ep : id.endpoints) {
        d.insert(d.end(), {7, 5, ep, 2});
        put16(d, id.superspeed ? 1024 : 512);
        d.push_back(0);
    }
    return d;
}

struct DataRelease {
    void operator()(UMockdevIoctlData* d) const { g_object_unref(d); }
};
using DataRef = std::unique_ptr<UMockdevIoctlData, DataRelease>;

usbdevfs_urb& urb_of(UMockdevIoctlData* d) {
    return *reinterpret_cast<usbdevfs_urb*>(d->data);
}

// Marks bytes changed in place to be written back to the client when the ioctl completes.
void write_back(UMockdevIoctlData* d) {
    const std::vector<uint8_t> bytes(d->data, d->data + d->data_len);
    umockdev_ioctl_data_update(d, 0, const_cast<uint8_t*>(bytes.data()), d->data_len);
}

}  // namespace

// One URB between submit and reap: the client's copy of it and of its buffer.
struct Urb {
    DataRef urb;
    DataRef buffer;  // null for a transfer without data
};

struct EmulatedDevice::Impl {
    explicit Impl(EmulatedDevice& device) : dev(device) {}

    EmulatedDevice& dev;
    Identity id;
    std::string devnode, syspath;
    UMockdevIoctlBase* handler = nullptr;

    std::unique_ptr<sim::Fx3Firmware> fx3;
    std::unique_ptr<sim::Fx3BootLoader> loader;
    std::unique_ptr<sim::Usb2Firmware> usb2;

    struct Client {
        bool claimed = false;
        std::deque<Urb> done;      // reapable, oldest first
        std::vector<Urb> waiting;  // IN transfers waiting for data, or never ending
    };
    std::map<UMockdevIoctlClient*, Client> clients;

    std::vector<FaultPlan> plans;
    bool gone = false, booted = false, held = false;
    std::string driver;  // kernel driver name, empty for none
    bool driver_bound = false;
    uint64_t out_bytes = 0, in_transfers = 0;
    int struck = 0;  // planned faults that happened

    // --- the ioctl handler, on umockdev's thread ---
    static gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto& impl = *static_cast<Impl*>(self);
        std::lock_guard lock(impl.dev.mutex_);
        impl.handle(client);
        return TRUE;
    }

    Client& client_state(UMockdevIoctlClient* client) {
        auto it = clients.find(client);
        if (it != clients.end()) return it->second;
        g_object_ref(client);
        return clients[client];
    }

    static void finish(UMockdevIoctlClient* client, long result, int error = 0) {
        umockdev_ioctl_client_complete(client, result, error);
    }

    void handle(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        Client& c = client_state(client);
        // A device that left the bus still hands out the URBs that ended (the kernel's "reap
        // after disconnect"); everything else fails.
        const bool reaping = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
        if ((gone || booted) && !(reaping && !c.done.empty())) {
            if (request == USBDEVFS_RELEASEINTERFACE) c.claimed = false;  // nothing left to hold
            return finish(client, -1, ENODEV);
        }
        const size_t size = _IOC_SIZE(request);
        GError* error = nullptr;
        DataRef data(size ? umockdev_ioctl_data_resolve(arg, 0, size, &error) : nullptr);
        if (error) g_error_free(error);
        if (size && !data) return finish(client, -1, EFAULT);
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
                umockdev_ioctl_data_update(data.get(), 0, reinterpret_cast<guint8*>(&caps), 4);
                return finish(client, 0);
            }
            case USBDEVFS_CLAIMINTERFACE:
                if (*reinterpret_cast<int*>(data->data) != 0) return finish(client, -1, EINVAL);
                if (held || driver_bound || claimed_by_other(client))
                    return finish(client, -1, EBUSY);
                c.claimed = true;
                return finish(client, 0);
            case USBDEVFS_RELEASEINTERFACE:
                if (!c.claimed) return finish(client, -1, EINVAL);
                c.claimed = false;
                return finish(client, 0);
            case USBDEVFS_GETDRIVER: {
                auto* gd = reinterpret_cast<usbdevfs_getdriver*>(data->data);
                const std::string name = claims() ? "usbfs" : driver_bound ? driver : "";
                if (name.empty()) return finish(client, -1, ENODATA);
                std::memset(gd->driver, 0, sizeof gd->driver);
                name.copy(gd->driver, sizeof gd->driver - 1);
                write_back(data.get());
                return finish(client, 0);
            }
            case USBDEVFS_IOCTL: {
                const auto* io = reinterpret_cast<usbdevfs_ioctl*>(data->data);
                if (io->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                    if (!driver_bound) return finish(client, -1, ENODATA);
                    driver_bound = false;
                    return finish(client, 0);
                }
                if (io->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                    if (!driver.empty() && !claims()) driver_bound = true;
                    return finish(client, 0);
                }
                return finish(client, -1, ENOTTY);
            }
            case USBDEVFS_CLEAR_HALT:
            case USBDEVFS_RESETEP:
            case USBDEVFS_SETINTERFACE:
            case USBDEVFS_SETCONFIGURATION:
                return finish(client, 0);
            case USBDEVFS_SUBMITURB:
                return submit(client, c, std::move(data));
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY:
                return reap(client, c, data.get());
            case USBDEVFS_DISCARDURB:
                return discard(client, c, *reinterpret_cast<unsigned long*>(arg->data));
            default:
                return finish(client, -1, ENOTTY);
        }
    }

    int claims() const {
        return static_cast<int>(std::count_if(clients.begin(), clients.end(),
                                              [](auto& c) { return c.second.claimed; }));
    }
    bool claimed_by_other(UMockdevIoctlClient* client) const {
        for (const auto& [other, state] : clients)
            if (other != client && state.claimed) return true;
        return false;
    }

    // The fault planned for this transfer, taken off the plan (a device once gone stays gone).
    UsbFault fault_for(bool in, uint64_t bytes) {
        for (auto it = plans.begin(); it != plans.end(); ++it) {
            if (it->in != in) continue;
            const bool strikes = in ? in_transfers >= it->after : out_bytes + bytes > it->after;
            if (!strikes) continue;
            const UsbFault f = it->fault;
            plans.erase(it);
            ++struck;
            if (f == UsbFault::Gone) leave_bus();
            return f;
        }
        return UsbFault::None;
    }

    // The device is gone: every URB still in flight ends as "no device".
    void leave_bus() {
        gone = true;
        for (auto& [client, c] : clients) {
            for (Urb& urb : c.waiting) end(c, std::move(urb), -ESHUTDOWN, 0);
            c.waiting.clear();
        }
    }

    void submit(UMockdevIoctlClient* client, Client& c, DataRef data) {
        usbdevfs_urb& u = urb_of(data.get());
        GError* error = nullptr;
        DataRef buffer;
        if (u.buffer_length > 0) {
            buffer.reset(umockdev_ioctl_data_resolve(data.get(), offsetof(usbdevfs_urb, buffer),
                                                     static_cast<size_t>(u.buffer_length), &error));
            if (error) {
                g_error_free(error);
                return finish(client, -1, EFAULT);
            }
        }
        Urb urb{std::move(data), std::move(buffer)};
        const usbdevfs_urb& head = urb_of(urb.urb.get());
        if (head.type == USBDEVFS_URB_TYPE_CONTROL) {
            control(c, std::move(urb));
        } else if (head.type != USBDEVFS_URB_TYPE_BULK ||
                   std::find(id.endpoints.begin(), id.endpoints.end(), head.endpoint) ==
                       id.endpoints.end()) {
            return finish(client, -1, ENOENT);  // no such endpoint
        } else if (!c.claimed) {
            // The kernel would claim the interface on the quiet; the emulation insists on an
            // explicit claim, so that a back-end that forgets one is caught.
            return finish(client, -1, EPERM);
        } else if (head.endpoint & 0x80) {
            bulk_in(c, std::move(urb));
        } else {
            bulk_out(c, std::move(urb));
        }
        finish(client, 0);
    }

    static void end(Client& c, Urb urb, int status, int actual) {
        usbdevfs_urb& u = urb_of(urb.urb.get());
        u.status = status;
        u.actual_length = actual;
        write_back(urb.urb.get());
        c.done.push_back(std::move(urb));
    }

    void bulk_out(Client& c, Urb urb) {
        const usbdevfs_urb& u = urb_of(urb.urb.get());
        const auto size = static_cast<size_t>(u.buffer_length);
        switch (fault_for(false, size)) {
            case UsbFault::Gone:
                return end(c, std::move(urb), -ESHUTDOWN, 0);
            case UsbFault::Stall:
                return end(c, std::move(urb), -EPIPE, 0);
            case UsbFault::Timeout:
                return c.waiting.push_back(std::move(urb));
            default:
                break;
        }
        const uint8_t* bytes = urb.buffer ? urb.buffer->data : nullptr;
        out_bytes += size;
        bool taken = true;
        if (fx3) fx3->receive(bytes, size);
        if (usb2) taken = usb2->receive(usb2_pipe(u.endpoint), bytes, size, dev.board_->chain());
        end(c, std::move(urb), taken ? 0 : -EPIPE, taken ? static_cast<int>(size) : 0);
        answer_waiting(c);
    }

    void bulk_in(Client& c, Urb urb) {
        switch (fault_for(true, 0)) {
            case UsbFault::Gone:
                return end(c, std::move(urb), -ESHUTDOWN, 0);
            case UsbFault::Stall:
                return end(c, std::move(urb), -EPIPE, 0);
            case UsbFault::Timeout:
                drop_reply(urb_of(urb.urb.get()).endpoint);  // the device never answers
                return c.waiting.push_back(std::move(urb));
            case UsbFault::ShortRead:
                return answer_in(c, std::move(urb), true);
            default:
                break;
        }
        if (!has_reply(urb_of(urb.urb.get()).endpoint)) return c.waiting.push_back(std::move(urb));
        answer_in(c, std::move(urb), false);
    }

    void drop_reply(uint8_t endpoint) {
        if (fx3 && fx3_reply_ready()) fx3_has_reply = false;
        std::vector<uint8_t> scratch(4096);
        while (usb2 && usb2->reply(usb2_pipe(endpoint), scratch.data(), scratch.size()) > 0) {
        }
    }

    bool has_reply(uint8_t endpoint) {
        if (fx3) return fx3_reply_ready();
        return usb2 && usb2->pending(usb2_pipe(endpoint)) > 0;
    }

    // Fx3Firmware hands out a reply only by taking it; one taken early is kept here.
    std::vector<uint8_t> fx3_reply;
    bool fx3_has_reply = false;
    bool fx3_reply_ready() {
        if (!fx3_has_reply) fx3_has_reply = fx3->take_reply(&fx3_reply);
        return fx3_has_reply;
    }

    void answer_in(Client& c, Urb urb, bool short_read) {
        ++in_transfers;
        const usbdevfs_urb& u = urb_of(urb.urb.get());
        const auto max = static_cast<size_t>(u.buffer_length);
        std::vector<uint8_t> reply(max);
        size_t n = 0;
        if (fx3 && fx3_reply_ready()) {
            fx3_has_reply = false;
            // A reply longer than the host's buffer overflows it.
            if (fx3_reply.size() > max) return end(c, std::move(urb), -EOVERFLOW, 0);
            n = fx3_reply.size();
            std::copy(fx3_reply.begin(), fx3_reply.end(), reply.begin());
        } else if (usb2) {
            n = usb2->reply(usb2_pipe(u.endpoint), reply.data(), max);
        }
        if (short_read) n /= 2;
        if (n && urb.buffer) umockdev_ioctl_data_update(urb.buffer.get(), 0, reply.data(), n);
        end(c, std::move(urb), 0, static_cast<int>(n));
    }

    void answer_waiting(Client& c) {
        for (auto it = c.waiting.begin(); it != c.waiting.end();) {
            const uint8_t ep = urb_of(it->urb.get()).endpoint;
            if ((ep & 0x80) && has_reply(ep)) {
                Urb urb = std::move(*it);
                it = c.waiting.erase(it);
                answer_in(c, std::move(urb), false);
            } else {
                ++it;
            }
        }
    }

    void control(Client& c, Urb urb) {
        if (!urb.buffer || urb.buffer->data_len < 8) return end(c, std::move(urb), -EPIPE, 0);
        uint8_t* b = urb.buffer->data;
        const uint8_t type = b[0], request = b[1];
        const uint16_t value = static_cast<uint16_t>(b[2] | b[3] << 8);
        const uint16_t index = static_cast<uint16_t>(b[4] | b[5] << 8);
        const size_t length = std::min<size_t>(static_cast<size_t>(b[6] | b[7] << 8),
                                               static_cast<size_t>(urb.buffer->data_len - 8));
        if (type == 0x80 && request == 6) {  // GET_DESCRIPTOR
            std::vector<uint8_t> d =
                descriptor(static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value));
            if (d.empty()) return end(c, std::move(urb), -EPIPE, 0);
            const size_t n = std::min(length, d.size());
            umockdev_ioctl_data_update(urb.buffer.get(), 8, d.data(), static_cast<int>(n));
            return end(c, std::move(urb), 0, static_cast<int>(n));
        }
        if (type == 0x40 && request == kBootRequest && loader) {
            const uint32_t address = static_cast<uint32_t>(index) << 16 | value;
            const bool ok = length ? loader->write_memory(address, b + 8, length) : jump(address);
            return end(c, std::move(urb), ok ? 0 : -EPIPE, ok ? static_cast<int>(length) : 0);
        }
        end(c, std::move(urb), -EPIPE, 0);
    }

    // This FX3 stands for real silicon: it starts whatever code lies at the entry point (the
    // model's loader runs only its stand-in) and then leaves the bus as the board it becomes.
    bool jump(uint32_t entry) {
        uint8_t word[4];
        if (!loader->read_memory(entry, word, sizeof word)) return false;
        dev.board_->become_board();
        leave_bus();
        booted = true;
        return true;
    }

    std::vector<uint8_t> descriptor(uint8_t type, uint8_t index) const {
        if (type != 3) return {};
        switch (index) {
            case 0:
                return {4, 3, 0x09, 0x04};
            case 1:
                return string_descriptor(id.manufacturer);
            case 2:
                return usb2 ? usb2->string_descriptor(2) : string_descriptor(id.product);
            case 3:
                if (!dev.serial_.empty()) return string_descriptor(dev.serial_);
                [[fallthrough]];
            default:
                return usb2 ? usb2->string_descriptor(index) : std::vector<uint8_t>{};
        }
    }

    void reap(UMockdevIoctlClient* client, Client& c, UMockdevIoctlData* slot) {
        if (c.done.empty()) return finish(client, -1, EAGAIN);
        Urb urb = std::move(c.done.front());
        c.done.pop_front();
        umockdev_ioctl_data_set_ptr(slot, 0, urb.urb.get());
        finish(client, 0);
    }

    void discard(UMockdevIoctlClient* client, Client& c, unsigned long address) {
        for (auto it = c.waiting.begin(); it != c.waiting.end(); ++it) {
            if (it->urb->client_addr != address) continue;
            Urb urb = std::move(*it);
            c.waiting.erase(it);
            end(c, std::move(urb), -ENOENT, 0);
            return finish(client, 0);
        }
        finish(client, -1, EINVAL);
    }
};

EmulatedDevice::EmulatedDevice(EmulatedBus& bus, std::shared_ptr<sim::VirtualBoard> board,
                               int bus_number, int port, std::string serial)
    : bus_(bus),
      board_(std::move(board)),
      bus_number_(bus_number),
      port_(port),
      serial_(std::move(serial)),
      impl_(std::make_unique<Impl>(*this)) {
    Impl& m = *impl_;
    m.id = identity_of(*board_);
    const sim::Transport& t = board_->preset().transport;
    if (t.kind == TransportKind::Fx3Board)
        m.fx3 = std::make_unique<sim::Fx3Firmware>(board_->chain(), t.superspeed);
    else if (t.kind == TransportKind::Fx3BootLoader)
        m.loader = std::make_unique<sim::Fx3BootLoader>(*board_);
    else if (auto usb2 = sim::usb2_identity(board_->config()))
        m.usb2 = std::make_unique<sim::Usb2Firmware>(*usb2);

    const int address = bus.next_address_++;
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus_number, address);
    m.devnode = node;
    const std::string name = std::to_string(bus_number) + "-" + std::to_string(port);
    const std::string busnum = std::to_string(bus_number), devnum = std::to_string(address);
    const std::string dev = "189:" + std::to_string((bus_number - 1) * 128 + address - 1);
    gchar* syspath = umockdev_testbed_add_device(
        bus.testbed_, "usb", name.c_str(), nullptr, "busnum", busnum.c_str(), "devnum",
        devnum.c_str(), "speed", m.id.superspeed ? "5000" : "480", "bConfigurationValue", "1",
        "dev", dev.c_str(), nullptr, "DEVNAME", node, "DEVTYPE", "usb_device", "BUSNUM",
        busnum.c_str(), "DEVNUM", devnum.c_str(), nullptr);
    m.syspath = syspath;
    g_free(syspath);
    std::vector<uint8_t> d = descriptors(m.id, !serial_.empty());
    umockdev_testbed_set_attribute_binary(bus.testbed_, m.syspath.c_str(), "descriptors", d.data(),
                                          static_cast<int>(d.size()));
    // A USB device node is a plain file in the testbed; its ioctls go to the handler.
    gchar* root = umockdev_testbed_get_root_dir(bus.testbed_);
    const std::filesystem::path file = std::string(root) + node;
    g_free(root);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream{file};
    m.handler = umockdev_ioctl_base_new();
    g_signal_connect(m.handler, "handle-ioctl", G_CALLBACK(&Impl::on_ioctl), impl_.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(bus.testbed_, node, m.handler, &error)) {
        const std::string why = error ? error->message : "?";
        if (error) g_error_free(error);
        throw std::runtime_error("umockdev: cannot attach to " + m.devnode + ": " + why);
    }
}

EmulatedDevice::~EmulatedDevice() {
    Impl& m = *impl_;
    umockdev_testbed_detach_ioctl(bus_.testbed_, m.devnode.c_str(), nullptr);
    {
        std::lock_guard lock(mutex_);
        for (auto& [client, state] : m.clients) g_object_unref(client);
        m.clients.clear();
    }
    g_signal_handlers_disconnect_by_data(m.handler, impl_.get());
    g_object_unref(m.handler);
}

void EmulatedDevice::plan(FaultPlan fault) {
    std::lock_guard lock(mutex_);
    impl_->plans.push_back(fault);
}

void EmulatedDevice::hold_interface(bool held) {
    std::lock_guard lock(mutex_);
    impl_->held = held;
}

void EmulatedDevice::bind_kernel_driver(const std::string& name) {
    std::lock_guard lock(mutex_);
    impl_->driver = name;
    impl_->driver_bound = !name.empty();
}

int EmulatedDevice::claims() const {
    std::lock_guard lock(mutex_);
    return impl_->claims();
}

bool EmulatedDevice::kernel_driver_bound() const {
    std::lock_guard lock(mutex_);
    return impl_->driver_bound;
}

bool EmulatedDevice::booted() const {
    std::lock_guard lock(mutex_);
    return impl_->booted;
}

uint64_t EmulatedDevice::out_bytes() const {
    std::lock_guard lock(mutex_);
    return impl_->out_bytes;
}

uint64_t EmulatedDevice::in_transfers() const {
    std::lock_guard lock(mutex_);
    return impl_->in_transfers;
}

int EmulatedDevice::faults_struck() const {
    std::lock_guard lock(mutex_);
    return impl_->struck;
}

std::vector<uint8_t> EmulatedDevice::loader_memory(uint32_t address, size_t size) const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> bytes(size);
    if (!impl_->loader || !impl_->loader->read_memory(address, bytes.data(), size)) return {};
    return bytes;
}

std::string EmulatedDevice::place() const {
    return std::to_string(bus_number_) + ":" + std::to_string(port_);
}

bool EmulatedBus::available(std::string* why) {
    // Loaded, not merely named in LD_PRELOAD (the dynamic loader skips a library it cannot find).
    if (void* preload = dlopen("libumockdev-preload.so.0", RTLD_LAZY | RTLD_NOLOAD)) {
        dlclose(preload);
        return true;
    }
    if (why)
        *why =
            "umockdev's preload library is not loaded (Debian package umockdev; run under "
            "umockdev-wrapper)";
    return false;
}

EmulatedBus::EmulatedBus() : testbed_(umockdev_testbed_new()) {}

EmulatedBus::~EmulatedBus() {
    devices_.clear();
    g_object_unref(testbed_);
}

EmulatedDevice& EmulatedBus::plug(std::shared_ptr<sim::VirtualBoard> board, int bus_number,
                                  int port, std::string serial) {
    devices_.push_back(std::make_unique<EmulatedDevice>(*this, std::move(board), bus_number, port,
                                                        std::move(serial)));
    return *devices_.back();
}

void EmulatedBus::unplug(EmulatedDevice& device) {
    {
        std::lock_guard lock(device.mutex_);
        device.impl_->leave_bus();
    }
    umockdev_testbed_remove_device(testbed_, device.impl_->syspath.c_str());
}

EmulatedDevice& EmulatedBus::reenumerate(EmulatedDevice& device) {
    unplug(device);
    return plug(device.board_, device.bus_number_, device.port_, device.serial_);
}

std::string EmulatedBus::child_environment() const {
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string env =
        std::string("UMOCKDEV_DIR='") + root + "' LD_PRELOAD=libumockdev-preload.so.0";
    g_free(root);
    // A sanitizer build's child must also be told that the preload library may come first.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name))
            env += std::string(" ") + name + "='" + value + "'";
    }
    return env;
}

}  // namespace vireo::test
