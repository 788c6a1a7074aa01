// Choosing one of several boards: the place text, the process-wide choice that every open honours,
// and the listing the front ends show. No USB board is plugged into the test machine, so the
// libusb side is seen here only as finding nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cables/devobj.h"
#include "cables/fx3.h"
#include "cables/usb_boards.h"
#include "cables/usb_ids.h"
#include "cables/usb_libusb.h"
#include "support/use_virtual_board.h"

namespace vireo::test {
namespace {

TEST(UsbPlace, BadTextsAreRefusedWithAReasonAndLeaveThePlaceAlone) {
    const struct {
        const char* text;
        const char* reason;
    } bad[] = {
        {"", "is not BUS:PORT"},     {"12", "is not BUS:PORT"},
        {"1.2", "is not BUS:PORT"},  {":2", "the bus is not"},
        {"0:1", "the bus is not"},   {"256:1", "the bus is not"},
        {"x:1", "the bus is not"},   {" 1:2", "the bus is not"},
        {"1:", "a port is not"},     {"1:0", "a port is not"},
        {"1:256", "a port is not"},  {"1:0002", "a port is not"},
        {"1:2.", "a port is not"},   {"1:.2", "a port is not"},
        {"1:2..3", "a port is not"}, {"1:+2", "a port is not"},
        {"1:-2", "a port is not"},   {"1:2 ", "a port is not"},
        {"1:2:3", "a port is not"},  {"1:1.2.3.4.5.6.7.8", "more than 7 ports"},
    };
    for (const auto& c : bad) {
        usb::Place place{9, {9}};
        std::string error;
        EXPECT_FALSE(usb::parse_place(c.text, &place, &error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << ": " << error;
        EXPECT_NE(error.find(std::string("'") + c.text + "'"), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
        EXPECT_EQ(place, (usb::Place{9, {9}})) << c.text;
    }
}

TEST(UsbPlace, GoodTextsReadBackAsWritten) {
    const struct {
        const char* text;
        usb::Place place;
        const char* shown;
    } good[] = {
        {"1:2", {1, {2}}, "1:2"},
        {"3:1.4", {3, {1, 4}}, "3:1.4"},
        {"255:255.1.2.3.4.5.6", {255, {255, 1, 2, 3, 4, 5, 6}}, "255:255.1.2.3.4.5.6"},
        {"01:002", {1, {2}}, "1:2"},
    };
    for (const auto& c : good) {
        usb::Place place;
        std::string error = "stale";
        ASSERT_TRUE(usb::parse_place(c.text, &place, &error)) << c.text << ": " << error;
        EXPECT_EQ(error, "");
        EXPECT_EQ(place, c.place) << c.text;
        EXPECT_EQ(place.text(), c.shown);
    }
}

class UsbChoice : public ::testing::Test {
  protected:
    void TearDown() override {
        usb::choose_device({});
        usb_use_virtual_board(nullptr);
    }
};

// A board chosen but absent is absent for every open: no other device is taken in its place.
TEST_F(UsbChoice, AChosenBoardThatIsAbsentIsNotFoundByAnyLayer) {
    usb::Choice by_serial;
    by_serial.by = usb::Choice::By::Serial;
    by_serial.serial = "A1";
    usb::Choice by_place;
    by_place.by = usb::Choice::By::Place;
    ASSERT_TRUE(usb::parse_place("1:2", &by_place.place, nullptr));
    for (const usb::Choice& choice : {by_place, by_serial}) {
        usb::choose_device(choice);
        EXPECT_EQ(usb::chosen_device().by, choice.by);
        for (int index : {0, 1}) {
            EXPECT_EQ(usb::Device::open(is_fx3_device, index), nullptr);
            EXPECT_EQ(usb::Device::open(is_usb2_cable, index), nullptr);
        }
        uint16_t vid = 0, pid = 0;
        char text[64] = {};
        EXPECT_EQ(fx3_open(0, &vid, &pid, text, sizeof text), 0);
        EXPECT_EQ(devobj_open("\\\\.\\XrCam-0"), DEVOBJ_INVALID);
    }
    usb::choose_device({});
    EXPECT_EQ(usb::chosen_device().by, usb::Choice::By::Any);
}

TEST_F(UsbChoice, TheListingIsTheVirtualBoardAloneWhenOneIsInstalled) {
    std::vector<BoardEntry> boards{BoardEntry{}};
    usb_list_present_boards(&boards);
    EXPECT_TRUE(boards.empty()) << "no USB board here";

    ASSERT_TRUE(use_virtual_board("kb2204"));
    ASSERT_EQ(usb_list_present_boards(&boards), 0);
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_TRUE(boards[0].is_virtual);
    EXPECT_EQ(boards[0].place, "virtual");
    EXPECT_EQ(boards[0].vid, usb_ids::kMakerVendor);
    EXPECT_EQ(boards[0].pid, usb_ids::kKb2204Product);
    EXPECT_EQ(boards[0].kind, "FX3 board");
    EXPECT_EQ(boards[0].product, "kb2204");

    ASSERT_TRUE(use_virtual_board("fx3-boot"));
    ASSERT_EQ(usb_list_present_boards(&boards), 0);
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(boards[0].kind, "FX3 boot loader");

    ASSERT_TRUE(use_virtual_board("keenprobe"));
    ASSERT_EQ(usb_list_present_boards(&boards), 0);
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(boards[0].kind, "USB 2.0 cable/board");
    EXPECT_EQ(boards[0].vid, 0);

    usb_use_virtual_board(nullptr);
    usb_list_present_boards(&boards);
    EXPECT_TRUE(boards.empty()) << "back on libusb";
}

}  // namespace
}  // namespace vireo::test
