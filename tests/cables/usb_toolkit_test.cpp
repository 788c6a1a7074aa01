// The pieces both USB drivers share, on their own: the command queue (packets, framing, the lost
// cable) and the libusb helper's search.
#include <gtest/gtest.h>

#include <vector>

#include "cables/cmd_queue.h"
#include "cables/usb_ids.h"  // is_usb2_cable
#include "cables/usb_libusb.h"
#include "jtag/status.h"

namespace vireo::test {
namespace {

using Bytes = std::vector<uint8_t>;

class Queue : public ::testing::Test {
  protected:
    // Packets of 8 bytes with "TK" framing; the send numbered fail_at (from 0) fails.
    CommandQueue make(int fail_at = -1) {
        return CommandQueue(cable_, 8, Bytes{'T', 'K'},
                            [this, fail_at](std::span<const uint8_t> p) {
                                const bool ok = static_cast<int>(sent_.size()) != fail_at;
                                sent_.emplace_back(p.begin(), p.end());
                                return ok;
                            });
    }
    Cable cable_;
    std::vector<Bytes> sent_;
};

TEST_F(Queue, AFailedSendLosesTheCableAndNothingIsSentAfter) {
    CommandQueue queue = make(1);
    // The second packet fills mid-command and fails: the rest of the command is dropped.
    EXPECT_EQ(queue.append({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), JTAG_DISCONNECTED);
    EXPECT_EQ(sent_,
              (std::vector<Bytes>{{'T', 'K', 1, 2, 3, 4, 5, 6}, {'T', 'K', 7, 8, 9, 10, 11, 12}}));
    EXPECT_EQ(cable_.alive, 0);
    EXPECT_EQ(queue.status(), JTAG_DISCONNECTED);
    EXPECT_EQ(queue.append({16}, true), JTAG_DISCONNECTED);
    EXPECT_EQ(queue.flush(), JTAG_DISCONNECTED);
    EXPECT_EQ(sent_.size(), 2u) << "a lost cable is sent nothing more";

    // A cable another path found gone (a reply that never came) takes nothing either.
    cable_.alive = 1;
    sent_.clear();
    CommandQueue other = make();
    EXPECT_EQ(other.append({1, 2}), JTAG_OK);
    EXPECT_EQ(other.lose(), JTAG_DISCONNECTED);
    EXPECT_EQ(other.append({3}, true), JTAG_DISCONNECTED);
    EXPECT_TRUE(sent_.empty()) << "what was queued before the loss is dropped";
}

TEST_F(Queue, EveryPacketIsFramedAndGoesOutWhenFullOrFlushed) {
    CommandQueue queue = make();
    EXPECT_EQ(queue.flush(), JTAG_OK);
    EXPECT_TRUE(sent_.empty()) << "nothing queued, nothing sent";
    EXPECT_EQ(queue.append({1, 2, 3}), JTAG_OK);
    EXPECT_EQ(queue.append({4, 5, 6}, true), JTAG_OK) << "exactly full and flushed: one packet";
    EXPECT_EQ(queue.append({7, 8, 9, 10, 11, 12, 13}), JTAG_OK);
    EXPECT_EQ(queue.append({14}, true), JTAG_OK);
    EXPECT_EQ(sent_, (std::vector<Bytes>{{'T', 'K', 1, 2, 3, 4, 5, 6},
                                         {'T', 'K', 7, 8, 9, 10, 11, 12},
                                         {'T', 'K', 13, 14}}));
    EXPECT_EQ(cable_.alive, 1);
}

TEST(UsbLibusb, NoMatchingDeviceOpensNothing) {
    EXPECT_EQ(usb::Device::open([](uint16_t, uint16_t) { return false; }, 0), nullptr);
    EXPECT_EQ(usb::Device::open(is_usb2_cable, -1), nullptr);
    EXPECT_EQ(usb::Device::open(nullptr, 0), nullptr);
}

}  // namespace
}  // namespace vireo::test
