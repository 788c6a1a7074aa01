#include "cables/devobj.h"

#include <cstring>
#include <map>
#include <mutex>

#include "cables/devobj_backend.h"

namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<DevobjHandle, std::shared_ptr<DevobjDevice>> open;
    DevobjHandle next = 1;
    DevobjOpener opener;  // empty: libusb
};

HandleTable& table() {
    static HandleTable t;
    return t;
}

std::shared_ptr<DevobjDevice> find(DevobjHandle handle) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.open.find(handle);
    return it == t.open.end() ? nullptr : it->second;
}

}  // namespace

void devobj_set_backend(DevobjOpener opener) {
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    t.opener = std::move(opener);
}

int devobj_name_index(const std::string& name, int* family) {
    static const char* const kFamilies[] = {"\\\\.\\XrCam-", "\\\\.\\nvsp6-"};
    for (int f = 0; f < 2; ++f) {
        const size_t len = std::strlen(kFamilies[f]);
        if (name.size() == len + 1 && name.compare(0, len, kFamilies[f]) == 0 && name[len] >= '0' &&
            name[len] <= '9') {
            if (family) *family = f;
            return name[len] - '0';
        }
    }
    return -1;
}

DevobjHandle devobj_open(const char* name) {
    if (!name) return DEVOBJ_INVALID;
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    std::unique_ptr<DevobjDevice> device = t.opener ? t.opener(name) : devobj_libusb_open(name);
    if (!device) return DEVOBJ_INVALID;
    const DevobjHandle handle = t.next++;
    t.open.emplace(handle, std::move(device));
    return handle;
}

int devobj_ioctl(DevobjHandle handle, uint32_t code, const void* in, uint32_t in_size, void* out,
                 uint32_t out_size, uint32_t* returned) {
    std::shared_ptr<DevobjDevice> device = find(handle);
    if (!device || !in || !returned || (out_size && !out)) return 0;
    const auto* input = static_cast<const uint8_t*>(in);
    auto* data = static_cast<uint8_t*>(out);
    uint32_t moved = 0;
    bool ok = false;
    if (code == DEVOBJ_STRING) {
        if (in_size < 4) return 0;
        ok = device->string_descriptor(input[0], static_cast<uint16_t>(input[2] | input[3] << 8),
                                       data, out_size, &moved);
    } else if (code == DEVOBJ_BULK_WRITE || code == DEVOBJ_BULK_READ) {
        if (in_size < 4) return 0;
        uint32_t pipe;
        std::memcpy(&pipe, input, sizeof pipe);
        ok = code == DEVOBJ_BULK_WRITE ? device->write(pipe, data, out_size, &moved)
                                       : device->read(pipe, data, out_size, &moved);
    }
    if (!ok) return 0;
    *returned = moved;
    return 1;
}

bool DevobjDevice::read_many(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t count,
                             uint32_t* returned) {
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t moved = 0;
        if (!read(pipe, data + total, size, &moved) || moved > size) return false;
        total += moved;
    }
    *returned = total;
    return true;
}

bool DevobjDevice::post_reads(uint32_t pipe, uint32_t size, uint32_t count) {
    posted_.push_back({pipe, size, count});
    return true;
}

bool DevobjDevice::collect_reads(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t count,
                                 uint32_t* returned) {
    if (posted_.empty() || posted_.front() != PostedReads{pipe, size, count}) return false;
    posted_.pop_front();
    return count == 1 ? read(pipe, data, size, returned)
                      : read_many(pipe, data, size, count, returned);
}

int devobj_post_reads(DevobjHandle handle, uint32_t pipe, uint32_t size, uint32_t count) {
    std::shared_ptr<DevobjDevice> device = find(handle);
    if (!device || size == 0 || count == 0 || count > UINT32_MAX / size) return 0;
    return device->post_reads(pipe, size, count) ? 1 : 0;
}

int devobj_collect_reads(DevobjHandle handle, uint32_t pipe, void* out, uint32_t size,
                         uint32_t count, uint32_t* returned) {
    std::shared_ptr<DevobjDevice> device = find(handle);
    if (!device || !out || !returned || size == 0 || count == 0 || count > UINT32_MAX / size)
        return 0;
    uint32_t moved = 0;
    if (!device->collect_reads(pipe, static_cast<uint8_t*>(out), size, count, &moved) ||
        moved > size * count)
        return 0;
    *returned = moved;
    return 1;
}

int devobj_close(DevobjHandle handle) {
    HandleTable& t = table();
    std::shared_ptr<DevobjDevice> device;
    {
        std::lock_guard lock(t.mutex);
        auto it = t.open.find(handle);
        if (it == t.open.end()) return 0;
        device = std::move(it->second);
        t.open.erase(it);
    }
    return 1;  // the device closes as the last reference goes
}
