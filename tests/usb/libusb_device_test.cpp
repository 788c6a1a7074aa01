#include "cables/usb_ids.h"
#include "cables/usb_libusb.h"
#include "usb/usb_fixture.h"

namespace vireo::test {
namespace {

using UsbDevice = EmulatedUsbTest;

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
