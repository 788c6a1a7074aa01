// kprbemb opened by name over the virtual board, every transfer recorded by a device-object
// back-end that can also make replies arrive in pieces or not at all.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "cables/devobj.h"
#include "cables/devobj_backend.h"
#include "jtag/chain_fixture.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "sim/virtual_board.h"

namespace vireo::test {

using Bytes = std::vector<uint8_t>;

struct WireEvent {
    uint32_t code, pipe;
    Bytes bytes;  // written, or received
};

struct WireLog {
    std::vector<WireEvent> events;
    std::optional<sim::Usb2Identity> pose_as;  // the firmware answers as this device
    int open_devices = 0;
    size_t read_limit = std::numeric_limits<size_t>::max();  // bytes per read call
    int reads_until_empty = -1;  // after this many reads, reads succeed with nothing

    std::vector<Bytes> on(uint32_t code, uint32_t pipe) const {
        std::vector<Bytes> found;
        for (const WireEvent& e : events)
            if (e.code == code && e.pipe == pipe) found.push_back(e.bytes);
        return found;
    }
    std::vector<Bytes> writes() const { return on(DEVOBJ_BULK_WRITE, DEVOBJ_PIPE_STREAM_OUT); }
    Bytes stream() const {
        Bytes all;
        for (const Bytes& w : writes()) all.insert(all.end(), w.begin(), w.end());
        return all;
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
        if (log_.reads_until_empty == 0) return *returned = 0, true;
        if (log_.reads_until_empty > 0) --log_.reads_until_empty;
        const auto asked = static_cast<uint32_t>(std::min<size_t>(size, log_.read_limit));
        if (!inner_->read(pipe, data, asked, returned)) return false;
        log_.events.push_back({DEVOBJ_BULK_READ, pipe, {data, data + *returned}});
        return true;
    }
    bool string_descriptor(uint8_t index, uint16_t language, uint8_t* data, uint32_t size,
                           uint32_t* returned) override {
        return inner_->string_descriptor(index, language, data, size, returned);
    }

  private:
    std::unique_ptr<DevobjDevice> inner_;
    WireLog& log_;
};

class KprbembTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_print_callback(collect_print);
        set_query_callback(database_query);
        printed().clear();
        devobj_set_backend([this](const std::string& name) -> std::unique_ptr<DevobjDevice> {
            auto inner = devobj_virtual_open(name, log_.pose_as ? &*log_.pose_as : nullptr);
            return inner ? std::make_unique<RecordingDevice>(std::move(inner), log_) : nullptr;
        });
    }
    void TearDown() override {
        cable_.reset();
        EXPECT_EQ(log_.open_devices, 0) << "every handle closed";
        devobj_set_backend({});
        sim::reset_virtual_board("");
    }

    Cable* open(const char* sim_text) {
        EXPECT_TRUE(sim::reset_virtual_board(sim_text)) << sim_text;
        cable_.reset(cable_new("", "kprbemb", ""));
        return cable_.get();
    }
    // Through Run-Test/Idle into Shift-DR, so the IDCODE is captured anew; the log emptied.
    void reenter_shift_dr(Cable* cable) {
        EXPECT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 0), 1);
        EXPECT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
        EXPECT_EQ(board().state(), sim::TapState::ShiftDr);
        log_.events.clear();
    }

    static sim::TapChain& board() { return sim::virtual_board()->chain(); }
    static uint32_t board_idcode() { return board().find<sim::XilinxFpga>()->idcode(); }

    static Bytes every(int n, int period) {
        Bytes bits(n);
        for (int i = 0; i < n; ++i) bits[i] = i % period == 0;
        return bits;
    }
    // What a lone IDCODE register in Shift-DR gives back: the code, then TDI 32 bits late.
    static Bytes idcode_then(const Bytes& tdi) {
        Bytes out(tdi.size());
        for (size_t i = 0; i < tdi.size(); ++i)
            out[i] = i < 32 ? (board_idcode() >> i) & 1 : tdi[i - 32];
        return out;
    }

    WireLog log_;
    CablePtr cable_;  // after log_: closed before the log goes
};

}  // namespace vireo::test
