// The USB drivers' tests: a cable opened by driver name over the virtual board, and bit helpers.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cables/devobj.h"
#include "cables/devobj_backend.h"
#include "cables/fx3.h"
#include "cables/fx3_backend.h"
#include "cables/usb_drivers.h"
#include "jtag/chain_fixture.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "support/use_virtual_board.h"

namespace vireo::test {

using Bytes = std::vector<uint8_t>;
using Writes = std::vector<Bytes>;

inline Bytes every(int n, int period) {
    Bytes bits(n);
    for (int i = 0; i < n; ++i) bits[i] = i % period == 0;
    return bits;
}
// n bits from first, eight to a byte, LSB first.
inline Bytes packed(const Bytes& bits, int first, int n) {
    Bytes out((n + 7) / 8, 0);
    for (int i = 0; i < n; ++i) out[i / 8] |= bits[first + i] << (i % 8);
    return out;
}
inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

class UsbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cables_register_usb_drivers();
        set_print_callback(collect_print);
        set_query_callback(database_query);
        printed().clear();
    }
    void TearDown() override {
        chain_.reset();
        cable_.reset();
        fx3_close();
        use_virtual_board("");
    }
    // Puts the board behind the USB layers; UsbWire puts its recording layer in front of it.
    virtual std::shared_ptr<sim::VirtualBoard> install(const std::string& sim_text) {
        return use_virtual_board(sim_text);
    }
    // The previous cable is closed first, as a program closes its cable before it opens another.
    Cable* open(const char* driver, const std::string& sim_text) {
        chain_.reset();
        cable_.reset();
        board_ = install(sim_text);
        EXPECT_TRUE(board_) << sim_text;
        cable_.reset(cable_new("", driver, ""));
        return cable_.get();
    }
    // Through Run-Test/Idle into Shift-DR, so the IDCODE is captured anew.
    void reenter_shift_dr(Cable* cable) {
        EXPECT_EQ(cable_tap_goto(cable, RUNTEST_IDLE, 0), 1);
        EXPECT_EQ(cable_tap_goto(cable, SHIFT_DR, 1), 1);
        EXPECT_EQ(board().state(), sim::TapState::ShiftDr);
    }
    sim::TapChain& board() { return board_->chain(); }
    // What a lone IDCODE register in Shift-DR gives back: the code, then TDI 32 bits late.
    Bytes idcode_then(const Bytes& tdi) {
        const uint32_t id = board().find<sim::XilinxFpga>()->idcode();
        Bytes out(tdi.size());
        for (size_t i = 0; i < tdi.size(); ++i) out[i] = i < 32 ? (id >> i) & 1 : tdi[i - 32];
        return out;
    }

    std::shared_ptr<sim::VirtualBoard> board_;  // the board open() installed
    CablePtr cable_;
    ChainPtr chain_;  // declared last: deleted before the cable it points to
};

// Every transfer of either device layer. FX3 transfers are logged on the pipes of the same
// direction: OUT as pipe 0, IN as pipe 2.
struct Transfer {
    uint32_t pipe;
    bool out;
    Bytes bytes;  // written, or received
    int max;      // an FX3 read's maximum length
};

struct Log {
    std::vector<Transfer> transfers;
    std::deque<Bytes> fake_replies;            // FX3 replies served instead of the firmware's
    std::optional<sim::Usb2Identity> pose_as;  // the USB 2.0 firmware answers as this device
    size_t read_limit = std::numeric_limits<size_t>::max();  // bytes per device-object read
    int reads_until_empty = -1;     // after this many device-object reads, empty ones
    int writes_until_failure = -1;  // after this many device-object writes, failing ones
    int open_devices = 0;

    Writes writes(uint32_t pipe = DEVOBJ_PIPE_STREAM_OUT) const {
        Writes out;
        for (const Transfer& t : transfers)
            if (t.out && t.pipe == pipe) out.push_back(t.bytes);
        return out;
    }
    size_t reads() const {
        size_t n = 0;
        for (const Transfer& t : transfers) n += !t.out && t.pipe == DEVOBJ_PIPE_STREAM_IN;
        return n;
    }
    Bytes stream() const {
        Bytes all;
        for (const Bytes& w : writes()) all.insert(all.end(), w.begin(), w.end());
        return all;
    }
};

class RecordingFx3 : public Fx3Backend {
  public:
    RecordingFx3(std::unique_ptr<Fx3Backend> inner, Log& log)
        : inner_(std::move(inner)), log_(log) {
        ++log_.open_devices;
    }
    ~RecordingFx3() override { --log_.open_devices; }
    bool open(int index, uint16_t* vid, uint16_t* pid, std::string* text) override {
        return inner_->open(index, vid, pid, text);
    }
    int write(const uint8_t* data, int length) override {
        log_.transfers.push_back({0, true, {data, data + length}, 0});
        return inner_->write(data, length);
    }
    int read(uint8_t* data, int max) override {
        int n = inner_->read(data, max);
        if (n > 0 && !log_.fake_replies.empty()) {
            const Bytes fake = std::move(log_.fake_replies.front());
            log_.fake_replies.pop_front();
            n = std::min(static_cast<int>(fake.size()), max);
            std::copy(fake.begin(), fake.begin() + n, data);
        }
        log_.transfers.push_back({2, false, {data, data + std::max(n, 0)}, max});
        return n;
    }
    bool download(const std::vector<uint8_t>& image, std::string* error) override {
        return inner_->download(image, error);
    }

  private:
    std::unique_ptr<Fx3Backend> inner_;
    Log& log_;
};

class RecordingDevobj : public DevobjDevice {
  public:
    RecordingDevobj(std::unique_ptr<DevobjDevice> inner, Log& log)
        : inner_(std::move(inner)), log_(log) {
        ++log_.open_devices;
    }
    ~RecordingDevobj() override { --log_.open_devices; }
    bool write(uint32_t pipe, const uint8_t* data, uint32_t size, uint32_t* returned) override {
        if (log_.writes_until_failure == 0) return false;
        if (log_.writes_until_failure > 0) --log_.writes_until_failure;
        log_.transfers.push_back({pipe, true, {data, data + size}, 0});
        return inner_->write(pipe, data, size, returned);
    }
    bool read(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t* returned) override {
        if (log_.reads_until_empty == 0) return *returned = 0, true;
        if (log_.reads_until_empty > 0) --log_.reads_until_empty;
        const auto asked = static_cast<uint32_t>(std::min<size_t>(size, log_.read_limit));
        if (!inner_->read(pipe, data, asked, returned)) return false;
        log_.transfers.push_back({pipe, false, {data, data + *returned}, 0});
        return true;
    }
    bool string_descriptor(uint8_t index, uint16_t language, uint8_t* data, uint32_t size,
                           uint32_t* returned) override {
        return inner_->string_descriptor(index, language, data, size, returned);
    }

  private:
    std::unique_ptr<DevobjDevice> inner_;
    Log& log_;
};

// Both device layers recorded.
class UsbWire : public UsbTest {
  protected:
    std::shared_ptr<sim::VirtualBoard> install(const std::string& sim_text) override {
        std::shared_ptr<sim::VirtualBoard> board = use_virtual_board(sim_text);
        if (!board) return nullptr;
        fx3_set_backend_factory([this, board]() -> std::unique_ptr<Fx3Backend> {
            return std::make_unique<RecordingFx3>(fx3_virtual_backend(board), log_);
        });
        devobj_set_backend([this, board](const std::string& name) -> std::unique_ptr<DevobjDevice> {
            auto inner = devobj_virtual_open(board, name, log_.pose_as ? &*log_.pose_as : nullptr);
            return inner ? std::make_unique<RecordingDevobj>(std::move(inner), log_) : nullptr;
        });
        return board;
    }
    void TearDown() override {
        UsbTest::TearDown();
        EXPECT_EQ(log_.open_devices, 0) << "every device closed with its cable";
    }
    // Opened, in Shift-DR (the IDCODE register), the log emptied.
    Cable* in_shift_dr(const char* driver, const char* sim_text) {
        Cable* cable = open(driver, sim_text);
        EXPECT_TRUE(cable);
        if (cable) reenter_shift_dr(cable);
        log_.transfers.clear();
        return cable;
    }
    int shift(const Bytes& tdi, uint8_t* capture, int nocap = 0, int flush = 1, int kind = 2) {
        const Bytes mask(tdi.size(), 1);
        return cable_shift_inout(cable_.get(), static_cast<int>(tdi.size()), tdi.data(),
                                 mask.data(), nullptr, nullptr, capture, kind, nocap, "", flush);
    }
    int option(int code, const void* in, void* out = nullptr, int count = 0, int* n = nullptr) {
        return cable_option(cable_.get(), code, in, 0, out, count, n);
    }

    Log log_;
};

}  // namespace vireo::test
