#include "jtag/tap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "jtag/msg.h"
#include "support/printed.h"

namespace {

std::vector<int> path(unsigned from, unsigned to) {
    uint8_t tms[kTapWalkLimit];
    int n = tap_walk(&from, to, tms);
    EXPECT_GE(n, 0);
    EXPECT_EQ(from, to);
    return std::vector<int>(tms, tms + (n > 0 ? n : 0));
}

// The IEEE 1149.1 state diagram, written out independently of the walking rule.
unsigned ieee_next(unsigned s, int tms) {
    static const unsigned next[16][2] = {{1, 0},   {1, 2},   {3, 9},   {4, 5},  {4, 5},   {6, 8},
                                         {6, 7},   {4, 8},   {1, 2},   {10, 0}, {11, 12}, {11, 12},
                                         {13, 15}, {13, 14}, {11, 15}, {1, 2}};
    return next[s][tms];
}

TEST(TapWalk, EveryPairOfStatesIsReachedWithinTheBoundAlongRealTransitions) {
    int longest = 0;
    unsigned longest_from = 0, longest_to = 0;
    for (unsigned from = 0; from <= UNKNOWN5; ++from) {
        for (unsigned to = 0; to <= UPDATE_IR; ++to) {
            unsigned state = from;
            uint8_t tms[kTapWalkLimit];
            const int n = tap_walk(&state, to, tms);
            ASSERT_GE(n, 0) << tap_state_name(from) << " -> " << tap_state_name(to);
            ASSERT_EQ(state, to);
            // Replay on the standard's diagram: from a lost state the five ones reset first.
            unsigned replay = from;
            int i = 0;
            if (from >= UNKNOWN) {
                for (; replay != TEST_LOGIC_RESET; ++i) {
                    ASSERT_EQ(tms[i], 1);
                    replay = replay == UNKNOWN5 ? TEST_LOGIC_RESET : replay + 1;
                }
            }
            for (; i < n; ++i) replay = ieee_next(replay, tms[i]);
            EXPECT_EQ(replay, to) << tap_state_name(from) << " -> " << tap_state_name(to);
            if (n > longest) {
                longest = n;
                longest_from = from;
                longest_to = to;
            }
        }
    }
    EXPECT_EQ(longest, 12);
    EXPECT_EQ(longest_from, UNKNOWN);
    EXPECT_EQ(longest_to, EXIT2_IR);
}

TEST(TapWalk, KnownSequences) {
    EXPECT_EQ(path(UNKNOWN, SHIFT_IR), (std::vector<int>{1, 1, 1, 1, 1, 0, 1, 1, 0, 0}));
    EXPECT_EQ(path(UNKNOWN, TEST_LOGIC_RESET), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_TRUE(path(TEST_LOGIC_RESET, TEST_LOGIC_RESET).empty());
    EXPECT_EQ(path(SHIFT_DR, SHIFT_IR), (std::vector<int>{1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(path(EXIT1_DR, SHIFT_DR), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(path(SELECT_DR_SCAN, RUNTEST_IDLE), (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(path(EXIT1_IR, RUNTEST_IDLE), (std::vector<int>{1, 0}));
}

TEST(TapWalk, UpdateStatesAskedForThemselvesLoopDifferently) {
    unsigned next;
    EXPECT_EQ(tap_next_step(UPDATE_DR, UPDATE_DR, &next), 0);
    EXPECT_EQ(next, RUNTEST_IDLE);
    EXPECT_EQ(tap_next_step(UPDATE_IR, UPDATE_IR, &next), 1);
    EXPECT_EQ(next, SELECT_DR_SCAN);
}

TEST(TapWalk, UnknownTargetAndOutOfRangeStates) {
    for (unsigned s = 0; s <= 25; ++s) {
        unsigned next = 99;
        EXPECT_EQ(tap_next_step(s, UNKNOWN, &next), 0);
        EXPECT_EQ(next, UNKNOWN);
    }
    unsigned next;
    EXPECT_EQ(tap_next_step(42, RUNTEST_IDLE, &next), 1);
    EXPECT_EQ(next, UNKNOWN2);
    EXPECT_EQ(tap_next_step(UNKNOWN5, RUNTEST_IDLE, &next), 1);
    EXPECT_EQ(next, TEST_LOGIC_RESET);
    // A target that is not a state is never reached: the walk stops at its bound.
    unsigned state = RUNTEST_IDLE;
    uint8_t tms[kTapWalkLimit];
    EXPECT_EQ(tap_walk(&state, 30, tms), -1);
}

TEST(TapNames, LongAndShortNames) {
    EXPECT_STREQ(tap_state_name(SHIFT_IR), "SHIFT_IR");
    EXPECT_STREQ(tap_state_name(UNKNOWN5), "UNKNOWN5");
    EXPECT_STREQ(tap_state_name(21), "UNDEFINED");
    EXPECT_EQ(tap_state_from_name("irshift"), SHIFT_IR);
    EXPECT_EQ(tap_state_from_name("RESET"), TEST_LOGIC_RESET);
    EXPECT_EQ(tap_state_from_name("IRUPDATE"), UPDATE_IR);
    EXPECT_EQ(tap_state_from_name("SHIFT_IR"), UNKNOWN) << "long names are not recognised";
    EXPECT_EQ(tap_state_from_name(nullptr), UNKNOWN);
}

TEST(TapNames, PrintedWithoutLineEnd) {
    set_print_callback(vireo::test::collect_print);
    vireo::test::printed().clear();
    tap_state_print(PAUSE_DR);
    tap_state_print(21);
    EXPECT_EQ(vireo::test::printed(), "PAUSE_DR[21]");
}

}  // namespace
