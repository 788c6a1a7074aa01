#include "cables/cable.h"
#include "cables/usb_drivers.h"
#include "cables/usb_ids.h"
#include "cables/usb_libusb.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "usb/usb_fixture.h"

namespace vireo::test {
namespace {

using UsbDevice = EmulatedUsbTest;

// A protocol-1 cable reads its capture replies in groups submitted at once. The cable pulled out
// in the middle of a group: the scan answers 21, the groups read before it keep their bits in
// order, nothing from the cut group on is stale, and the interface is given back.
TEST_F(UsbDevice, CaptureCutInTheMiddleOfAGroupOfReadsLosesTheCableWithoutStaleBits) {
    EmulatedDevice& dev = bus_->plug(board("keenprobe"), 1, 2);
    cables_register_usb_drivers();
    std::unique_ptr<Cable, void (*)(Cable*)> cable(cable_new("", "kprbemb", ""), cable_free);
    ASSERT_TRUE(cable);
    ASSERT_EQ(cable_tap_goto(cable.get(), RUNTEST_IDLE, 0), 1);
    ASSERT_EQ(cable_tap_goto(cable.get(), SHIFT_DR, 1), 1);  // the IDCODE register
    constexpr uint64_t kRepliesBefore = 100;                 // 256 bits each
    dev.plan({UsbFault::Gone, true, dev.in_transfers() + kRepliesBefore});
    std::vector<uint8_t> tdi(40'000), mask(tdi.size(), 1), capture(tdi.size(), 9);
    for (size_t i = 0; i < tdi.size(); ++i) tdi[i] = i % 3 == 0;
    EXPECT_EQ(cable_shift_inout(cable.get(), static_cast<int>(tdi.size()), tdi.data(), mask.data(),
                                nullptr, nullptr, capture.data(), 2, 0, "", 1),
              JTAG_DISCONNECTED);
    EXPECT_EQ(dev.faults_struck(), 1);
    EXPECT_EQ(cable_alive(cable.get()), 0);
    const uint32_t id = dev.with_board(
        [](sim::VirtualBoard& b) { return b.chain().find<sim::XilinxFpga>()->idcode(); });
    size_t kept = capture.size();
    while (kept > 0 && capture[kept - 1] == 0) --kept;
    EXPECT_GT(kept, 256u) << "the groups before the cut";
    EXPECT_LE(kept, kRepliesBefore * 256) << "nothing read after the cut";
    for (size_t i = 0; i < kept; ++i)
        ASSERT_EQ(capture[i], i < 32 ? (id >> i) & 1 : tdi[i - 32]) << "bit " << i;
    cable.reset();
    EXPECT_EQ(dev.claims(), 0);
}

TEST_F(UsbDevice, FirmwareVersionThroughLibusb) {
    EmulatedDevice& dev = bus_->plug(board("kb2203"), 1, 2, "KB01");
    auto usb = usb::Device::open(is_fx3_device, 0);
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->vendor(), 0x2129);
    EXPECT_EQ(usb->product(), 0x0640);
    EXPECT_EQ(usb->product_text(), "Norvale Artix-7 Board");
    EXPECT_EQ(dev.claims(), 1);
    const uint8_t version[] = {'T', 'K', 'V', 0};
    EXPECT_TRUE(usb->bulk_out(0x02, version, 1000).ok());
    uint8_t reply[512] = {};
    usb::Transfer t = usb->bulk_in(0x82, reply, 1000);
    ASSERT_TRUE(t.ok()) << t.error_name();
    EXPECT_EQ(reply[0], 'V');
    usb.reset();
    EXPECT_EQ(dev.claims(), 0);
}

}  // namespace
}  // namespace vireo::test
