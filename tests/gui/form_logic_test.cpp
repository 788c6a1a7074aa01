// The window's rules without widgets: the repaint filter of the progress display and the offset
// field. (The button table is checked on the real window in window_test.cpp.)
#include "gui/form_logic.h"

#include <gtest/gtest.h>

namespace vireo::gui {
namespace {

TEST(ProgressFilter, PassesOnlyCallsThatMoveTheBarAPixelOrStartOrEnd) {
    ProgressFilter filter;
    const int width = 100;
    EXPECT_TRUE(filter.pass(0, 10000, width));
    EXPECT_FALSE(filter.pass(50, 10000, width)) << "half a pixel";
    EXPECT_TRUE(filter.pass(100, 10000, width));
    EXPECT_FALSE(filter.pass(199, 10000, width));
    EXPECT_TRUE(filter.pass(0, 10000, width)) << "a new start always shows";
    EXPECT_TRUE(filter.pass(10000, 10000, width));
    EXPECT_TRUE(filter.pass(10000, 10000, width)) << "the end always shows";
    // No division by a maximum of 0; a huge count does not overflow.
    EXPECT_TRUE(filter.pass(0, 0, width));
    EXPECT_TRUE(filter.pass(2'000'000'000, 2'100'000'000, width));
}

TEST(OffsetField, ReadsHexadecimalAndFallsBackToZero) {
    EXPECT_EQ(parse_offset("00400000"), 0x400000u);
    EXPECT_EQ(parse_offset("0x1F"), 0x1Fu);
    EXPECT_EQ(parse_offset("  abc"), 0xABCu);
    EXPECT_EQ(parse_offset("12zz"), 0x12u) << "the digits before the first non-digit";
    EXPECT_EQ(parse_offset(""), 0u);
    EXPECT_EQ(parse_offset("zz"), 0u);
    EXPECT_EQ(parse_offset("0x"), 0u);
    // Past 32 bits: the flash refuses the address instead of writing at a wrapped one.
    EXPECT_EQ(parse_offset("123456789"), 0xFFFFFFFFu);
}

TEST(ToolButtons, AutoOnTheFpgaTargetNeedsAFile) {
    EXPECT_FALSE(tool_buttons(FormState::IdleFpga, false).autob);
    EXPECT_TRUE(tool_buttons(FormState::IdleFpga, true).autob);
    EXPECT_TRUE(tool_buttons(FormState::IdleSpiRom, false).autob);
}

}  // namespace
}  // namespace vireo::gui
