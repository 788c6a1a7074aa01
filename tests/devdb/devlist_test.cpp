#include "devdb/devlist.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "jtag/msg.h"
#include "support/printed.h"

namespace {

struct ListDeleter {
    void operator()(DeviceList* l) const { devlist_free(l); }
};
using List = std::unique_ptr<DeviceList, ListDeleter>;

class IndexFile : public ::testing::Test {
  protected:
    void SetUp() override {
        set_print_callback(vireo::test::collect_print);
        vireo::test::printed().clear();
        path_ = std::filesystem::temp_directory_path() /
                ("devindex_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
    }
    void TearDown() override { std::filesystem::remove(path_); }

    List read(const std::string& content, int64_t selector, const char* name) {
        std::ofstream(path_, std::ios::binary) << content;
        return List(devlist_read_index(path_.c_str(), selector, name));
    }

    std::filesystem::path path_;
};

const char kRealistic[] =
    "\n"
    "   \t \r\n"
    "#devindex v1.1\r\n"
    "# Xilinx parts, revision nibble masked out\n"
    "@MANUFACTURE Xilinx\n"
    "0362D093\t0FFFFFFF\tsys_1_23\tXC7A35T\tArtix-7\n"
    "03631093,0FFFFFFF,sys_1_23,XC7A100T,Artix 7 (100T)\n"
    "03631093 0FFFFFFF,sys_1_23,XC7A100T_CSG324,with package\n"
    "0362F093\tFFFFFFFF\tsys_1_24\tXC7S50_CSGA324\n"
    "@OTHER ignored\n"
    "00000000\t0FFFFFFF\tzero\tNEVER\n"
    "@manufacture\n"
    "4BA00477\t0FFFFFFF\tarm\tARM_DAP\n"
    ",this line ends the reading\n"
    "04002093\t0FFFFFFF\tsys_1_19\tXC6SLX16\n";

TEST_F(IndexFile, SelectorsOnARealisticFile) {
    List all = read(kRealistic, kDevIndexAll, nullptr);
    ASSERT_TRUE(all);
    ASSERT_EQ(devlist_count(all.get()), 5) << "zero IDCODE skipped, reading stops at ','";
    EXPECT_STREQ(devlist_name(all.get(), 0), "XC7A35T");
    EXPECT_STREQ(devlist_key(all.get(), 0), "sys_1_23");
    EXPECT_EQ(all->entries[0].manufacturer, "Xilinx");
    EXPECT_EQ(all->entries[0].third, "Artix-7");
    EXPECT_EQ(all->entries[1].third, "Artix 7 (100T)") << "blanks belong to later fields";
    EXPECT_EQ(all->entries[3].mask, 0x0FFFFFFFu) << "mask restricted to 28 bits";
    EXPECT_EQ(all->entries[4].manufacturer, "") << "@MANUFACTURE without a name";
    EXPECT_EQ(all->entries[4].idcode, 0x4BA00477u);

    // The version nibble never takes part in matching.
    List by_id = read(kRealistic, 0x53631093, nullptr);
    ASSERT_EQ(devlist_count(by_id.get()), 2);
    EXPECT_STREQ(devlist_name(by_id.get(), 0), "XC7A100T");
    EXPECT_STREQ(devlist_name(by_id.get(), 1), "XC7A100T_CSG324");

    // A numeric selector also takes names made of the asked name, '_' and more.
    List by_name_suffix = read(kRealistic, 0x0362D093, "XC7S50");
    ASSERT_EQ(devlist_count(by_name_suffix.get()), 2);
    EXPECT_STREQ(devlist_name(by_name_suffix.get(), 1), "XC7S50_CSGA324");
    List no_suffix = read(kRealistic, 0x0362D093, "XC7A10");
    EXPECT_EQ(devlist_count(no_suffix.get()), 1) << "XC7A100T is not XC7A10 + '_'";

    List exact = read(kRealistic, kDevIndexByName, "xc7a100t");
    ASSERT_EQ(devlist_count(exact.get()), 1);
    EXPECT_EQ(exact->entries[0].idcode, 0x03631093u);
    EXPECT_EQ(vireo::test::printed(), "");
}

TEST_F(IndexFile, ObsoleteOrMisplacedHeaderIsRefused) {
    EXPECT_FALSE(read("#DEVINDEX V1.0\n0362D093\t0FFFFFFF\tk\tXC7A35T\n", kDevIndexAll, nullptr));
    EXPECT_EQ(vireo::test::printed(), "Device index file format is obsolete.[#DEVINDEX V1.0]");
    vireo::test::printed().clear();
    EXPECT_FALSE(read("# comment first\n#DEVINDEX V1.1\n", kDevIndexAll, nullptr));
    EXPECT_EQ(vireo::test::printed(), "Device index file format is obsolete.[# comment first]");
    EXPECT_FALSE(List(devlist_read_index("/nonexistent/devindex.txt", kDevIndexAll, nullptr)));
    EXPECT_FALSE(List(devlist_read_index(nullptr, kDevIndexAll, nullptr)));
}

TEST_F(IndexFile, HostileInputNeverCrashesOrSplitsLines) {
    // An over-long line is dropped whole: its tail must not become a record of its own.
    std::string content = "#DEVINDEX V1.1\n";
    content += "0362D093\t0FFFFFFF\tk\t" + std::string(3000, 'A') + "\n";
    content += std::string(2600, ' ') + "\n";
    content += "03631093\t0FFFFFFF\tk\tXC7A100T\n";
    content += "03636093\n";                      // missing fields
    content += "03636093\t\t\t\t\t\t\t\tmore\n";  // empty and surplus fields
    content += std::string("0362F093\t0FFFFFFF\tk\tXC7S\0junk\n", 27);
    List list = read(content, kDevIndexAll, nullptr);
    ASSERT_TRUE(list);
    ASSERT_EQ(devlist_count(list.get()), 4);
    EXPECT_STREQ(devlist_name(list.get(), 0), "XC7A100T");
    EXPECT_STREQ(devlist_name(list.get(), 1), "");
    EXPECT_EQ(list->entries[1].mask, 0u);
    EXPECT_STREQ(devlist_name(list.get(), 3), "XC7S") << "text after a zero byte is dropped";
    EXPECT_NE(vireo::test::printed().find("line 2"), std::string::npos) << vireo::test::printed();

    std::mt19937 rng(1234);
    for (int round = 0; round < 50; ++round) {
        std::string junk = "#DEVINDEX V1.1\n";
        const size_t size = rng() % 8000;
        for (size_t i = 0; i < size; ++i) junk += static_cast<char>(rng() & 0xFF);
        List l = read(junk, round % 2 ? kDevIndexAll : 0x03631093, "XC7");
        ASSERT_TRUE(l);
    }
}

TEST(DeviceList, KeepsOrderPastTheFirstTable) {
    List list(devlist_new());
    for (int i = 0; i < 11; ++i) {
        const std::string name = "part" + std::to_string(i);
        devlist_add(list.get(), nullptr, name.c_str(), "key", nullptr, i, 0);
    }
    ASSERT_EQ(devlist_count(list.get()), 11);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(devlist_name(list.get(), i), "part" + std::to_string(i));
    EXPECT_EQ(list->entries[3].manufacturer, "");
    EXPECT_STREQ(devlist_name(list.get(), 11), "");
    EXPECT_STREQ(devlist_key(list.get(), -1), "");
    EXPECT_STREQ(devlist_name(nullptr, 0), "");
    EXPECT_EQ(devlist_count(nullptr), 0);
    devlist_free(nullptr);
}

TEST(PackageClass, MarkersInOrderAndPinCounts) {
    struct Case {
        const char* text;
        const char* cls;
        int pins;
        int side;
    };
    const Case cases[] = {
        {"FFG1156", "BGA", 1156, 289},
        {"TQG144", "QFP", 144, 36},
        {"csg324", "BGA", 324, 81},
        {"PC20", "DIP", 20, 5},
        {"PC44", "PLCC", 44, 11},
        {"VO20", "SOP", 20, 5},
        {"SO8", "SOP", 8, 2},
        {"FT256", "BGA", 256, 64},
        {"XC7S50_CSGA324", "BGA", 324, 81},
        {"ABC", "UNKNOWN", 0, 0},
        {"ZZ99", "UNKNOWN", 99, 0},
        {"12X34", "UNKNOWN", 34, 0},
    };
    for (const Case& c : cases) {
        const PackageClass pc = package_classify(c.text);
        EXPECT_EQ(pc.name, c.cls) << c.text;
        EXPECT_EQ(pc.pins, c.pins) << c.text;
        EXPECT_EQ(pc.side_pins_x, c.side) << c.text;
        EXPECT_EQ(pc.side_pins_y, c.side) << c.text;
    }
    EXPECT_EQ(package_classify(nullptr).name, "NONE");
    EXPECT_EQ(package_classify(("X" + std::string(100, '9')).c_str()).name, "UNKNOWN");
}

}  // namespace
