#include "cables/fx3.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "cables/fx3_backend.h"
#include "cables/fx3_image.h"

namespace {

struct Fx3Device {
    std::mutex mutex;
    std::unique_ptr<Fx3Backend> backend;
    int generation = 0;  // of the open that opened backend; 0 while none is open
    int last_generation = 0;
    Fx3BackendFactory factory;  // empty: libusb
};

Fx3Device& device() {
    static Fx3Device d;
    return d;
}

// Copies text into a caller's buffer of the given size, cut and always terminated.
void copy_out(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) return;
    const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

void close_device(Fx3Device& d) {
    d.backend.reset();
    d.generation = 0;
}

bool read_file(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::string("cannot open firmware image ") + path;
        return false;
    }
    // One byte more than any valid image, so an oversized file is seen as such.
    bytes->resize(kFx3MaxImageBytes + 1);
    in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
    bytes->resize(static_cast<size_t>(in.gcount()));
    return true;
}

}  // namespace

void fx3_set_backend_factory(Fx3BackendFactory factory) {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    d.factory = std::move(factory);
}

bool fx3_backend_is_libusb() {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    return !d.factory;
}

int fx3_open(int index, uint16_t* vid, uint16_t* pid, char* text, int size) {
    return fx3_open_tracked(index, vid, pid, text, size, nullptr);
}

int fx3_open_tracked(int index, uint16_t* vid, uint16_t* pid, char* text, int size,
                     int* generation) {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    close_device(d);
    if (generation) *generation = 0;
    copy_out("", text, size);
    if (index < 0) return 0;
    std::unique_ptr<Fx3Backend> backend = d.factory ? d.factory() : fx3_libusb_backend();
    uint16_t v = 0, p = 0;
    std::string description;
    if (!backend || !backend->open(index, &v, &p, &description)) return 0;
    if (vid) *vid = v;
    if (pid) *pid = p;
    copy_out(description, text, size);
    d.backend = std::move(backend);
    d.last_generation = d.last_generation == INT_MAX ? 1 : d.last_generation + 1;
    d.generation = d.last_generation;
    if (generation) *generation = d.generation;
    return 1;
}

int fx3_close() {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    close_device(d);
    return 1;
}

int fx3_release(int generation) {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    if (generation <= 0 || generation != d.generation) return 0;
    close_device(d);
    return 1;
}

int fx3_holds(int generation) {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    return generation > 0 && generation == d.generation;
}

int fx3_download(const char* path, char* error, int size) {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    std::string reason;
    std::vector<uint8_t> image;
    if (!d.backend) {
        reason = "no FX3 device is open";
    } else if (!path || !*path) {
        reason = "no firmware image given";
    } else if (read_file(path, &image, &reason) && d.backend->download(image, &reason)) {
        return 1;
    }
    if (reason.empty()) reason = "firmware download failed";
    copy_out(reason, error, size);
    return 0;
}

int fx3_write(int endpoint, const uint8_t* data, int length) {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    if (!d.backend || endpoint != kFx3OutEndpoint || !data || length < 1 ||
        length > kFx3MaxTransfer)
        return -1;
    return d.backend->write(data, length);
}

int fx3_read(int endpoint, uint8_t* data, int max) {
    Fx3Device& d = device();
    std::lock_guard lock(d.mutex);
    if (!d.backend || endpoint != kFx3InEndpoint || !data || max < 1) return -1;
    return d.backend->read(data, max);
}
