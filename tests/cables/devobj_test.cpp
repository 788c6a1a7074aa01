// The device-object layer: names, the back-end choice, and the virtual USB 2.0 firmware behind it.
#include "cables/devobj.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cables/devobj_backend.h"
#include "jtag/chain_fixture.h"
#include "sim/virtual_board.h"

namespace vireo::test {
namespace {

using Bytes = std::vector<uint8_t>;

class DevobjTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_print_callback(collect_print);
        printed().clear();
    }
    void TearDown() override {
        for (DevobjHandle h : handles_) devobj_close(h);
        sim::reset_virtual_board("");
    }

    DevobjHandle open(const char* name) {
        const DevobjHandle h = devobj_open(name);
        if (h != DEVOBJ_INVALID) handles_.push_back(h);
        return h;
    }
    static bool write(DevobjHandle h, uint32_t pipe, Bytes bytes) {
        uint32_t got = 0;
        return devobj_ioctl(h, DEVOBJ_BULK_WRITE, &pipe, 4, bytes.data(),
                            static_cast<uint32_t>(bytes.size()), &got) &&
               got == bytes.size();
    }
    // The reply bytes, or nothing when the read failed.
    static std::optional<Bytes> read(DevobjHandle h, uint32_t pipe, uint32_t size) {
        Bytes buffer(size);
        uint32_t got = 0;
        if (!devobj_ioctl(h, DEVOBJ_BULK_READ, &pipe, 4, buffer.data(), size, &got)) return {};
        buffer.resize(got);
        return buffer;
    }

    std::vector<DevobjHandle> handles_;
};

TEST_F(DevobjTest, NamesOfBothFamilies) {
    int family = -1;
    EXPECT_EQ(devobj_name_index("\\\\.\\XrCam-0", &family), 0);
    EXPECT_EQ(family, 0);
    EXPECT_EQ(devobj_name_index("\\\\.\\nvsp6-9", &family), 9);
    EXPECT_EQ(family, 1);
    for (const char* other : {"\\\\.\\XrCam-10", "XrCam-0", "\\\\.\\XrCam-", "\\\\.\\nvsp6-x", ""})
        EXPECT_EQ(devobj_name_index(other, nullptr), -1) << other;
    EXPECT_EQ(devobj_open(nullptr), DEVOBJ_INVALID);
}

TEST_F(DevobjTest, OnlyTheFirstNameReachesTheVirtualBoard) {
    sim::reset_virtual_board("keenprobe");
    const DevobjHandle h = open("\\\\.\\XrCam-0");
    ASSERT_NE(h, DEVOBJ_INVALID);
    EXPECT_EQ(open("\\\\.\\XrCam-1"), DEVOBJ_INVALID);
    EXPECT_EQ(open("\\\\.\\nvsp6-0"), DEVOBJ_INVALID);

    const uint8_t request[4] = {2, 0, 0x1B, 0x00};
    uint8_t descriptor[256] = {};
    uint32_t got = 0;
    ASSERT_EQ(devobj_ioctl(h, DEVOBJ_STRING, request, 4, descriptor, 256, &got), 1);
    const Bytes expected = {20, 3, 'K', 0, 'e', 0, 'e', 0, 'n', 0, 'P', 0,
                            'r', 0, 'o', 0, 'b', 0, 'e', 0};
    EXPECT_EQ(Bytes(descriptor, descriptor + got), expected);
    EXPECT_EQ(devobj_ioctl(h, DEVOBJ_STRING, request, 2, descriptor, 256, &got), 0) << "short input";
    EXPECT_EQ(devobj_ioctl(h, 0x222000, request, 4, descriptor, 256, &got), 0) << "unknown code";
    EXPECT_FALSE(write(h, 1, {0x00})) << "no such pipe";

    EXPECT_EQ(devobj_close(h), 1);
    EXPECT_EQ(devobj_close(h), 0);
    EXPECT_FALSE(write(h, 0, {0x00})) << "closed handle";
}

TEST_F(DevobjTest, ControlRequestsOfABoard) {
    sim::reset_virtual_board("kb2205,fw=1.1");
    const DevobjHandle h = open("\\\\.\\XrCam-0");
    ASSERT_NE(h, DEVOBJ_INVALID);
    EXPECT_FALSE(read(h, 5, 64)) << "nothing waiting: a time-out";
    ASSERT_TRUE(write(h, 4, {0x09}));
    ASSERT_TRUE(write(h, 4, {0x06}));
    const auto version = read(h, 5, 64);
    ASSERT_TRUE(version);
    ASSERT_EQ(version->size(), 64u);
    EXPECT_EQ((*version)[0], 1);
    EXPECT_EQ((*version)[1], 1);
    const auto alive = read(h, 5, 100);
    ASSERT_TRUE(alive);
    EXPECT_EQ(alive->size(), 64u) << "one reply per read";
    EXPECT_NE((*alive)[0], 0);
}

TEST_F(DevobjTest, CommandsSplitAcrossWritesRunWhole) {
    sim::reset_virtual_board("keenprobe");
    const DevobjHandle h = open("\\\\.\\XrCam-0");
    sim::TapChain& chain = sim::virtual_board()->chain();
    ASSERT_TRUE(write(h, 0, {0x02, 0x03, 0x02, 0x03, 0x02, 0x03, 0x02, 0x03, 0x02}));
    ASSERT_TRUE(write(h, 0, {0x03, 0x02, 0x02, 0x02, 0x03, 0x02, 0x02, 0x02, 0x02}));
    EXPECT_EQ(chain.state(), sim::TapState::ShiftDr) << "5 x TMS 1, then 0, 1, 0, 0";
    const uint64_t ns = chain.now_ns();
    ASSERT_TRUE(write(h, 0, {0x06, 0x0B, 0x02}));
    ASSERT_TRUE(write(h, 0, {0x00, 0x00, 0x08, 12}));
    EXPECT_GE(chain.now_ns() - ns, 523u * 1910u);
    EXPECT_FALSE(read(h, 2, 256)) << "the shift has not arrived whole";
    ASSERT_TRUE(write(h, 0, {0x03, 0xFF, 0x0F, 0x00}));
    const auto tdo = read(h, 2, 256);
    ASSERT_TRUE(tdo);
    ASSERT_EQ(tdo->size(), 256u);
    const uint32_t idcode = chain.find<sim::XilinxFpga>()->idcode();
    EXPECT_EQ((*tdo)[0], idcode & 0xFF);
    EXPECT_EQ((*tdo)[1], (idcode >> 8) & 0x0F) << "bits past the count read 0";
    EXPECT_EQ(chain.state(), sim::TapState::Exit1Dr);
}

TEST_F(DevobjTest, UnpluggedOrReplacedBoardsFailEveryTransfer) {
    sim::reset_virtual_board("keenprobe,unplug=2");
    DevobjHandle h = open("\\\\.\\XrCam-0");
    EXPECT_TRUE(write(h, 4, {0x06}));
    EXPECT_TRUE(read(h, 5, 64));
    EXPECT_FALSE(write(h, 4, {0x06}));
    EXPECT_EQ(sim::virtual_board()->counters().transfers, 2u);
    EXPECT_EQ(open("\\\\.\\XrCam-0"), DEVOBJ_INVALID) << "an unplugged board is not there";

    sim::reset_virtual_board("keenprobe");
    h = open("\\\\.\\XrCam-0");
    sim::reset_virtual_board("keenprobe-c");
    EXPECT_FALSE(write(h, 4, {0x06})) << "the handle belonged to the board that went away";
}

TEST_F(DevobjTest, InvalidOrOtherSimBoardsOfferNoDevice) {
    std::string error;
    EXPECT_FALSE(sim::reset_virtual_board("kb2299", &error));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(open("\\\\.\\XrCam-0"), DEVOBJ_INVALID);
    EXPECT_EQ(printed(), error + "\n") << "printed once";
    sim::reset_virtual_board("kb2203");
    EXPECT_EQ(open("\\\\.\\XrCam-0"), DEVOBJ_INVALID) << "a USB 3.0 board, no real cable tried";
}

}  // namespace
}  // namespace vireo::test
