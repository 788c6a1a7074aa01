// Boards handed to the USB layers: a board replaced or taken away under an open cable, and two
// skprb cables sharing the process's one FX3 device.
#include "usb_fixture.h"

namespace vireo::test {
namespace {

int alive(Cable* cable) {
    return cable_option(cable, CABLE_OPT_ALIVE, nullptr, 0, nullptr, 0, nullptr);
}

using UsbVirtual = UsbTest;

// The cable keeps the board it was opened on alive, but nothing of it reaches either board; the
// board goes, at the latest, with the cable's close.
TEST_F(UsbVirtual, ABoardReplacedOrTakenAwayUnderAnOpenCableIsACablePulledOut) {
    const struct {
        const char* driver;
        const char* sim;
    } cases[] = {{"skprb", "kb2203"}, {"kprbemb", "keenprobe"}};
    for (const auto& c : cases) {
        for (const bool replaced : {true, false}) {
            SCOPED_TRACE(std::string(c.driver) + (replaced ? " replaced" : " taken away"));
            ASSERT_TRUE(open(c.driver, c.sim));
            ASSERT_EQ(alive(cable_.get()), 1);
            const std::weak_ptr<sim::VirtualBoard> first = board_;
            const uint64_t transfers = board_->counters().transfers;
            board_ = use_virtual_board(replaced ? c.sim : "");
            ASSERT_FALSE(first.expired());

            EXPECT_EQ(alive(cable_.get()), JTAG_DISCONNECTED);
            EXPECT_EQ(cable_alive(cable_.get()), 0);
            // kprbemb closes its handle on the failure, and with it lets the board go.
            if (const std::shared_ptr<sim::VirtualBoard> still = first.lock()) {
                EXPECT_EQ(still->counters().transfers, transfers);
            }
            if (board_) {
                EXPECT_EQ(board_->counters().transfers, 0u);
            }
            cable_.reset();
            EXPECT_TRUE(first.expired()) << "the closed cable let its board go";
        }
    }
}

// The FX3 component holds one device; the cable that opened it last owns it.
TEST_F(UsbWire, ASecondSkprbCableTakesTheFx3DeviceAndTheFirstCannotCloseIt) {
    ASSERT_TRUE(open("skprb", "kb2203"));
    CablePtr second(cable_new("", "skprb", ""));
    ASSERT_TRUE(second);
    EXPECT_EQ(log_.open_devices, 1);
    log_.transfers.clear();
    EXPECT_EQ(alive(cable_.get()), JTAG_DISCONNECTED) << "the first cable lost its device";
    cable_.reset();
    EXPECT_TRUE(log_.transfers.empty()) << "nothing of the first went into the second's device";
    EXPECT_EQ(log_.open_devices, 1) << "closing the first left the second's device open";
    EXPECT_EQ(alive(second.get()), 1);
    second.reset();
    EXPECT_EQ(log_.open_devices, 0);
    EXPECT_EQ(log_.writes().back(), (Bytes{'T', 'K', 'E'})) << "the second closed as it should";

    int older = 0, newer = 0;
    ASSERT_EQ(fx3_open_tracked(0, nullptr, nullptr, nullptr, 0, &older), 1);
    ASSERT_EQ(fx3_open_tracked(0, nullptr, nullptr, nullptr, 0, &newer), 1);
    EXPECT_GT(older, 0);
    EXPECT_NE(older, newer);
    EXPECT_EQ(fx3_holds(older), 0);
    EXPECT_EQ(fx3_release(older), 0);
    EXPECT_EQ(fx3_holds(newer), 1);
    EXPECT_EQ(fx3_release(newer), 1);
    EXPECT_EQ(fx3_holds(newer), 0);
    EXPECT_EQ(fx3_release(newer), 0);
    EXPECT_EQ(fx3_open_tracked(-1, nullptr, nullptr, nullptr, 0, &newer), 0);
    EXPECT_EQ(newer, 0);
}

}  // namespace
}  // namespace vireo::test
