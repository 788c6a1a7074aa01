// A device-object back-end for tests: the virtual board's device, with every transfer recorded
// and a few ways to make replies misbehave.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cables/devobj.h"
#include "cables/devobj_backend.h"

namespace vireo::test {

struct WireEvent {
    uint32_t code;
    uint32_t pipe;
    std::vector<uint8_t> bytes;  // written, or received
};

struct WireLog {
    std::vector<WireEvent> events;
    std::optional<sim::Usb2Identity> pose_as;  // the firmware answers as this device
    int open_devices = 0;
    size_t read_limit = std::numeric_limits<size_t>::max();  // bytes per read call
    int reads_until_empty = -1;  // after this many reads, reads succeed with nothing

    // Pipe-0 bytes, all writes joined.
    std::vector<uint8_t> stream() const {
        std::vector<uint8_t> all;
        for (const WireEvent& e : events)
            if (e.code == DEVOBJ_BULK_WRITE && e.pipe == DEVOBJ_PIPE_STREAM_OUT)
                all.insert(all.end(), e.bytes.begin(), e.bytes.end());
        return all;
    }
    std::vector<const WireEvent*> on(uint32_t code, uint32_t pipe) const {
        std::vector<const WireEvent*> found;
        for (const WireEvent& e : events)
            if (e.code == code && e.pipe == pipe) found.push_back(&e);
        return found;
    }
};

class RecordingDevice : public DevobjDevice {
public:
    RecordingDevice(std::unique_ptr<DevobjDevice> inner, WireLog& log)
        : inner_(std::move(inner)), log_(log) {
        ++log_.open_devices;
    }
    ~RecordingDevice() override { --log_.open_devices; }

    bool write(uint32_t pipe, const uint8_t* data, uint32_t size, uint32_t* returned) override {
        log_.events.push_back({DEVOBJ_BULK_WRITE, pipe, {data, data + size}});
        return inner_->write(pipe, data, size, returned);
    }
    bool read(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t* returned) override {
        if (log_.reads_until_empty == 0) {
            *returned = 0;
            return true;
        }
        if (log_.reads_until_empty > 0) --log_.reads_until_empty;
        const uint32_t asked = static_cast<uint32_t>(std::min<size_t>(size, log_.read_limit));
        if (!inner_->read(pipe, data, asked, returned)) return false;
        log_.events.push_back({DEVOBJ_BULK_READ, pipe, {data, data + *returned}});
        return true;
    }
    bool string_descriptor(uint8_t index, uint16_t language, uint8_t* data, uint32_t size,
                           uint32_t* returned) override {
        log_.events.push_back({DEVOBJ_STRING, index, {}});
        return inner_->string_descriptor(index, language, data, size, returned);
    }

private:
    std::unique_ptr<DevobjDevice> inner_;
    WireLog& log_;
};

inline void record_wire(WireLog& log) {
    devobj_set_backend([&log](const std::string& name) -> std::unique_ptr<DevobjDevice> {
        auto inner = devobj_virtual_open(name, log.pose_as ? &*log.pose_as : nullptr);
        if (!inner) return nullptr;
        return std::make_unique<RecordingDevice>(std::move(inner), log);
    });
}

}  // namespace vireo::test
