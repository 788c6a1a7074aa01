// The configuration state explained: each family's status words decoded by their own tables,
// the problems found, the verdict.
#include "app/config_report.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vireo::app {
namespace {

// The value column of a field's line ("101 (JTAG)"), "" when no line names the field.
std::string field(const ConfigReport& report, const std::string& name) {
    for (const std::string& line : report.lines) {
        std::istringstream words(line);
        std::string bits, word;
        words >> bits >> word;
        if (word == name) {
            std::string rest;
            std::getline(words >> std::ws, rest);
            return rest;
        }
    }
    return "";
}

TEST(ConfigReport, SevenSeriesAfterAFailedConfiguration) {
    ConfigStatus status;
    status.family = FpgaFamily::Series7;
    status.ir_capture = 0x01;  // DONE and INIT low
    status.stat = 1u << 0 | 1u << 15 | 5u << 8 | 1u << 25 | 3u << 18;
    status.bootsts = 0x21;  // VALID, CRC_ERROR of the latest attempt
    const ConfigReport report = explain_config_status(status, 0x12345678u);
    EXPECT_FALSE(report.configured);
    EXPECT_EQ(report.problems, (std::vector<std::string>{"CRC error", "INIT_B low",
                                                         "ID error (the image is for another part)",
                                                         "CRC error (boot status)"}));
    EXPECT_EQ(field(report, "CRC_ERROR"), "1  <- CRC error");
    EXPECT_EQ(field(report, "MODE"), "101 (JTAG)");
    EXPECT_EQ(field(report, "BUS_WIDTH"), "01 (x8)");
    EXPECT_EQ(field(report, "STARTUP_STATE"), "011 (3)");
    EXPECT_EQ(field(report, "DONE"), "0");
    EXPECT_EQ(field(report, "CRC_ERROR_1"), "0");
    EXPECT_EQ(report.lines[1], "DONE 0, INIT 0 (instruction capture 0x01)");
    ASSERT_GE(report.lines.size(), 2u);
    EXPECT_EQ(report.lines[report.lines.size() - 2], "USERCODE 0x12345678");
    EXPECT_EQ(report.lines.back(),
              "FPGA is not configured (DONE low): CRC error, INIT_B low, ID error (the image is "
              "for another part), CRC error (boot status)");
}

// STAT of a configured XC6SLX9 as a published read-back shows it.
TEST(ConfigReport, SpartanSixConfigured) {
    ConfigStatus status;
    status.family = FpgaFamily::Spartan6;
    status.ir_capture = 0x35;
    status.stat = 0x373C;
    status.bootsts = 0x0001;
    const ConfigReport report = explain_config_status(status);
    EXPECT_TRUE(report.configured);
    EXPECT_TRUE(report.problems.empty());
    EXPECT_EQ(report.lines[0], "Family: Spartan-6");
    EXPECT_EQ(report.lines[2], "STAT 0x373C");
    EXPECT_EQ(field(report, "DONE"), "1");
    EXPECT_EQ(field(report, "INIT_B"), "1");
    EXPECT_EQ(field(report, "ID_ERROR"), "0") << "bit 1 on Spartan-6, bit 15 on 7-series";
    EXPECT_EQ(field(report, "MODE"), "011");
    EXPECT_EQ(field(report, "HSWAPEN"), "1");
    EXPECT_EQ(field(report, "STRIKE_COUNT"), "0000 (0)");
    EXPECT_EQ(field(report, "USERCODE"), "") << "no USERCODE line when it was not read";
    EXPECT_EQ(report.lines.back(), "FPGA is configured (DONE high)");
}

}  // namespace
}  // namespace vireo::app
