// The recent-file list: ten entries, most recent first, a name kept once in any letter case.
#include "app/recent_files.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vireo::app {
namespace {

std::vector<std::string> numbered(int count) {
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) names.push_back("/d/top" + std::to_string(i) + ".bit");
    return names;
}

TEST(RecentFiles, ANewNameGoesFirstAndTheTenthFallsOff) {
    const std::vector<std::string> after = recent_after_choice(numbered(10), "/d/new.bit");
    ASSERT_EQ(after.size(), 10u);
    EXPECT_EQ(after[0], "/d/new.bit");
    EXPECT_EQ(after[1], "/d/top1.bit");
    EXPECT_EQ(after[9], "/d/top9.bit");
}

TEST(RecentFiles, AKnownNameInAnyCaseMovesFirstOnce) {
    const std::vector<std::string> after = recent_after_choice(numbered(10), "/D/TOP7.BIT");
    EXPECT_EQ(after[0], "/D/TOP7.BIT");
    EXPECT_EQ(after[7], "/d/top8.bit");
    EXPECT_EQ(after[9], "/d/top10.bit") << "nothing fell off";
    EXPECT_EQ(std::count(after.begin(), after.end(), "/d/top7.bit"), 0);
}

TEST(RecentFiles, ShortOrOverlongListsAreTenAndAnEmptyNameIsNotRemembered) {
    std::vector<std::string> after = recent_after_choice({"/a.bit"}, "/b.bit");
    ASSERT_EQ(after.size(), 10u);
    EXPECT_EQ(after[1], "/a.bit");
    EXPECT_EQ(after[2], "");
    after = recent_after_choice(numbered(12), "");
    ASSERT_EQ(after.size(), 10u);
    EXPECT_EQ(after[0], "/d/top1.bit");
    EXPECT_FALSE(same_name_ignoring_case("/a.bit", "/a.bi"));
}

}  // namespace
}  // namespace vireo::app
