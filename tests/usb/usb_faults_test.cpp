// USB faults under the libusb back-ends, as a user of vireo meets them: each ends the command
// with the lost-cable message (status 21) and exit 1, never a success, bounded by the back-end's
// time-outs; and the process gives the interface back itself (the emulated device counts only
// an explicit release) and re-attaches a kernel driver it detached.
#include "usb/usb_fixture.h"

namespace vireo::test {
namespace {

constexpr const char* kLost = "JTAG cable was disconnected forcibly";

using UsbFaults = EmulatedUsbTest;

// Every fault half-way through a configuration with a vendor bitstream (by bulk OUT bytes or IN
// transfers of one program), on an FX3 board and on a USB 2.0 board; each on a fresh board, as a
// fault may leave the firmware out of step.
TEST_F(UsbFaults, FaultsInTheMiddleOfAConfiguration) {
    for (const auto& [preset, part] :
         {std::pair{"kb2203", "xc7a100tcsg324"}, {"kb2201", "xc6slx16csg324"}}) {
        const std::string file = vendor_bitstream(dir_, part);
        EmulatedDevice& first = fresh(preset);
        ASSERT_EQ(vireo({"program", file}).code, 0);
        const uint64_t out = first.out_bytes(), in = first.in_transfers();
        for (const auto& [fault, on_in] : {std::pair{UsbFault::Gone, false},
                                           {UsbFault::Stall, false},
                                           {UsbFault::Timeout, false},
                                           {UsbFault::Timeout, true},
                                           {UsbFault::ShortRead, true},
                                           {UsbFault::Stall, true}}) {
            SCOPED_TRACE(std::string(preset) + " fault " + std::to_string(static_cast<int>(fault)) +
                         (on_in ? " in" : " out"));
            EmulatedDevice& dev = fresh(preset);
            dev.plan({fault, on_in, (on_in ? in : out) / 2});
            const VireoRun run = vireo({"program", file});
            EXPECT_EQ(dev.faults_struck(), 1);
            EXPECT_EQ(run.code, 1) << run.shown();
            EXPECT_NE(run.out.find(kLost), std::string::npos) << run.shown();
            EXPECT_EQ(run.out.find("FPGAへファイル"), std::string::npos) << run.shown();
            EXPECT_EQ(dev.claims(), 0) << "interface released";
        }
    }
}

TEST_F(UsbFaults, BusyInterfaceIsNotFoundAndKernelDriverIsGivenBack) {
    EmulatedDevice& dev = fresh("kb2203");
    dev.hold_interface(true);
    VireoRun run = vireo({"idcode"});
    EXPECT_EQ(run.code, 1) << run.shown();
    EXPECT_NE(run.out.find("was not found"), std::string::npos) << run.shown();
    EXPECT_NE(run.out.find("USB device 1:1 (2129:0640) is in use by another program"),
              std::string::npos)
        << run.shown();

    dev.hold_interface(false);
    dev.bind_kernel_driver("usbtest");
    run = vireo({"idcode"});
    EXPECT_EQ(run.code, 0) << run.shown();
    EXPECT_TRUE(dev.kernel_driver_bound());
    EXPECT_EQ(dev.claims(), 0);
}

}  // namespace
}  // namespace vireo::test
