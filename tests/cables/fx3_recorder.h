// An FX3 back-end for tests: the virtual board's device with every transfer recorded, and
// replies that can be replaced to play a misbehaving firmware.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "cables/fx3_backend.h"
#include "sim/virtual_board.h"

namespace vireo::test {

struct Fx3Transfer {
    bool out;                    // bulk OUT (write) or bulk IN (read)
    std::vector<uint8_t> bytes;  // written, or received
    int max = 0;                 // the read's maximum length
};

struct Fx3Log {
    std::vector<Fx3Transfer> transfers;
    std::deque<std::vector<uint8_t>> fake_replies;  // served instead of the firmware's
    int open_devices = 0;

    std::vector<std::vector<uint8_t>> writes() const {
        std::vector<std::vector<uint8_t>> out;
        for (const Fx3Transfer& t : transfers)
            if (t.out) out.push_back(t.bytes);
        return out;
    }
};

class RecordingFx3 : public Fx3Backend {
  public:
    RecordingFx3(std::unique_ptr<Fx3Backend> inner, Fx3Log& log)
        : inner_(std::move(inner)), log_(log) {
        ++log_.open_devices;
    }
    ~RecordingFx3() override { --log_.open_devices; }

    bool open(int index, uint16_t* vid, uint16_t* pid, std::string* description) override {
        return inner_->open(index, vid, pid, description);
    }
    int write(const uint8_t* data, int length) override {
        log_.transfers.push_back({true, {data, data + length}, 0});
        return inner_->write(data, length);
    }
    int read(uint8_t* data, int max) override {
        int n = inner_->read(data, max);
        if (n > 0 && !log_.fake_replies.empty()) {
            const std::vector<uint8_t> fake = std::move(log_.fake_replies.front());
            log_.fake_replies.pop_front();
            n = static_cast<int>(std::min<size_t>(fake.size(), static_cast<size_t>(max)));
            std::copy(fake.begin(), fake.begin() + n, data);
        }
        log_.transfers.push_back({false, {data, data + (n > 0 ? n : 0)}, max});
        return n;
    }
    bool download(const std::vector<uint8_t>& image, std::string* error) override {
        return inner_->download(image, error);
    }

  private:
    std::unique_ptr<Fx3Backend> inner_;
    Fx3Log& log_;
};

// Every later fx3_open goes through a recorder over the current virtual board.
inline void record_fx3(Fx3Log& log) {
    fx3_set_backend_factory([&log]() -> std::unique_ptr<Fx3Backend> {
        sim::VirtualBoard* board = sim::virtual_board();
        if (!board) return nullptr;
        return std::make_unique<RecordingFx3>(fx3_virtual_backend(*board), log);
    });
}

}  // namespace vireo::test
