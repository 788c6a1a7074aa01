// libvireo_skprb.so in the hands of a C host (skprb_host.c, built by the C compiler): the
// program loads the library and drives a board on the emulated bus through the exported entry
// points with its own C record of the cable.
#include <cstdio>

#include "usb/usb_fixture.h"

namespace vireo::test {
namespace {

using SkprbCHost = EmulatedUsbTest;

VireoRun run_host(const std::filesystem::path& dir, const std::string& env, const char* mode) {
    const std::string d = dir.string();
    const std::string command = "cd '" + d + "' && env -i PATH=/usr/bin:/bin " + env +
                                " timeout -s KILL 60 '" SKPRB_HOST "' '" VIREO_BIN_DIR
                                "/libvireo_skprb.so' " +
                                mode + " >out 2>err </dev/null; echo $? >code";
    if (std::system(command.c_str()) == -1) return {};
    return collect(dir, "");
}

TEST_F(SkprbCHost, ABoardThatLeavesIsReportedOnTheHostsRecord) {
    // Init reads two replies ("V", "Q"); the board is gone at the first capture after them.
    EmulatedDevice& dev = fresh("kb2203");
    dev.plan({UsbFault::Gone, true, 2});
    const VireoRun run = run_host(dir_, bus_->child_environment(), "gone");
    EXPECT_EQ(run.code, 0) << run.shown();
    EXPECT_EQ(dev.faults_struck(), 1);
    EXPECT_EQ(dev.claims(), 0) << "close gives the interface back";
}

TEST_F(SkprbCHost, DrivesTheBoardThroughTheExports) {
    EmulatedDevice& dev = fresh("kb2203");
    const uint32_t idcode = dev.with_board(
        [](sim::VirtualBoard& b) { return b.chain().find<sim::XilinxFpga>()->idcode(); });
    const VireoRun run = run_host(dir_, bus_->child_environment(), "board");
    EXPECT_EQ(run.code, 0) << run.shown();
    char expected[32];
    std::snprintf(expected, sizeof expected, "idcode=%08X\n", idcode);
    EXPECT_NE(run.out.find(expected), std::string::npos) << run.shown();
    EXPECT_EQ(dev.claims(), 0);
}

}  // namespace
}  // namespace vireo::test
