// The device-object layer: names, the back-end choice, and the virtual board behind a handle.
#include "cables/devobj.h"

#include <gtest/gtest.h>

#include "jtag/chain_fixture.h"
#include "support/use_virtual_board.h"

namespace vireo::test {
namespace {

class Devobj : public ::testing::Test {
  protected:
    void SetUp() override {
        set_print_callback(collect_print);
        printed().clear();
    }
    void TearDown() override { use_virtual_board(""); }
    static bool alive_request(DevobjHandle h) {
        uint32_t pipe = DEVOBJ_PIPE_CONTROL_OUT, got = 0;
        uint8_t request = 0x06;
        return devobj_ioctl(h, DEVOBJ_BULK_WRITE, &pipe, 4, &request, 1, &got) == 1;
    }
};

TEST_F(Devobj, OnlyTheFirstNameReachesTheVirtualBoard) {
    use_virtual_board("keenprobe");
    for (const char* other : {"\\\\.\\XrCam-1", "\\\\.\\nvsp6-0", "\\\\.\\XrCam-00"})
        EXPECT_EQ(devobj_open(other), DEVOBJ_INVALID) << other;
    const DevobjHandle h = devobj_open("\\\\.\\XrCam-0");
    ASSERT_NE(h, DEVOBJ_INVALID);
    const uint8_t request[4] = {2, 0, 0x1B, 0x00};
    uint8_t descriptor[256] = {};
    uint32_t got = 0;
    ASSERT_EQ(devobj_ioctl(h, DEVOBJ_STRING, request, 4, descriptor, 256, &got), 1);
    EXPECT_EQ(std::vector<uint8_t>(descriptor, descriptor + got),
              (std::vector<uint8_t>{20,  3, 'K', 0, 'e', 0, 'e', 0, 'n', 0,
                                    'P', 0, 'r', 0, 'o', 0, 'b', 0, 'e', 0}));
    EXPECT_EQ(devobj_ioctl(h, DEVOBJ_STRING, request, 2, descriptor, 256, &got), 0) << "short in";
    EXPECT_EQ(devobj_ioctl(h, 0x222000, request, 4, descriptor, 256, &got), 0) << "unknown code";
    uint32_t reply_pipe = DEVOBJ_PIPE_CONTROL_IN;
    EXPECT_EQ(devobj_ioctl(h, DEVOBJ_BULK_READ, &reply_pipe, 4, descriptor, 64, &got), 0)
        << "nothing waiting: a time-out";
    EXPECT_EQ(devobj_close(h), 1);
    EXPECT_EQ(devobj_close(h), 0);
    EXPECT_FALSE(alive_request(h)) << "closed handle";
}

TEST_F(Devobj, UnpluggedReplacedOrOtherBoardsGiveNoTransfers) {
    use_virtual_board("keenprobe,unplug=2");
    DevobjHandle h = devobj_open("\\\\.\\XrCam-0");
    EXPECT_TRUE(alive_request(h));
    EXPECT_TRUE(alive_request(h));
    EXPECT_FALSE(alive_request(h));
    EXPECT_EQ(devobj_open("\\\\.\\XrCam-0"), DEVOBJ_INVALID) << "an unplugged board is not there";
    devobj_close(h);

    use_virtual_board("keenprobe");
    h = devobj_open("\\\\.\\XrCam-0");
    use_virtual_board("keenprobe");
    EXPECT_FALSE(alive_request(h)) << "the handle belonged to the board that went away";
    devobj_close(h);

    use_virtual_board("kb2203");
    EXPECT_EQ(devobj_open("\\\\.\\XrCam-0"), DEVOBJ_INVALID)
        << "a USB 3.0 board, no real cable tried";
}

}  // namespace
}  // namespace vireo::test
