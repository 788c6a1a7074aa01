// Every supported FPGA configured end to end: the command logic, the real USB drivers and their
// virtual back-ends, the virtual board.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/host.h"
#include "app/session.h"
#include "jtag/chain.h"
#include "jtag/devalg.h"
#include "jtag/opflag.h"
#include "jtag/status.h"
#include "sim/bitgen.h"
#include "sim/xilinx_fpga.h"
#include "support/null_ui.h"
#include "support/use_virtual_board.h"

namespace vireo::app {
namespace {

namespace fs = std::filesystem;

class QuietUi : public test::NullUi {
  public:
    void append_log(const std::string& line) override { log += line + "\n"; }
    std::string log;
};

// A full-size image of the board's FPGA, written where the module can read it.
std::string image_for(const sim::XilinxPart& part) {
    const fs::path path = fs::temp_directory_path() /
                          ("board_" + std::to_string(::getpid()) + "_" + part.name + ".bit");
    const auto bytes = sim::make_bit_file(part, {}, "2026/12/07", "12:00:00");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

class SupportedBoard : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        paths_.exe_dir = fs::current_path().string() + "/";
        paths_.sys_dir = paths_.exe_dir + "sys/";
        install_host(&ui_, paths_);
    }
    void TearDown() override { test::use_virtual_board(""); }
    QuietUi ui_;
    AppPaths paths_;
};

TEST_P(SupportedBoard, ProgramsItsFpgaThroughItsUsbDriver) {
    std::string error;
    const std::shared_ptr<sim::VirtualBoard> board = test::use_virtual_board(GetParam(), &error);
    ASSERT_NE(board, nullptr) << error;
    sim::XilinxFpga* fpga = board->chain().find<sim::XilinxFpga>();
    ASSERT_NE(fpga, nullptr);
    const std::string file = image_for(fpga->part());

    Session session(ui_, paths_);
    EXPECT_EQ(session.program_fpga(file), JTAG_OK) << ui_.log;
    EXPECT_TRUE(fpga->engine().done()) << GetParam();
    EXPECT_TRUE(supported_device(session.device_name())) << session.device_name();
    EXPECT_GT(board->counters().transfers, 0u);
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Presets, SupportedBoard,
                         ::testing::Values("kb2201", "kb2201-45", "kb2202", "kb2203", "kb2204",
                                           "kb2205", "lumenk", "keenprobe", "keenprobe-c"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

// The Zynq PL sits behind the ARM DAP: the application refuses that board, but the library
// configures the PL at index 1 through the USB 3.0 driver.
TEST_F(SupportedBoard, ZynqPlBehindTheArmDap) {
    const std::shared_ptr<sim::VirtualBoard> board = test::use_virtual_board("zynq");
    ASSERT_NE(board, nullptr);
    sim::XilinxFpga* pl = board->chain().find<sim::XilinxFpga>();
    const std::string file = image_for(pl->part());
    Chain* chain = jtag_open_chain("kprbemb", "");
    EXPECT_EQ(chain, nullptr) << "no USB 2.0 cable on an FX3 board";
    chain = jtag_open_chain("skprb", "");
    ASSERT_NE(chain, nullptr);
    ASSERT_EQ(chain_detect(chain), 1);
    ASSERT_EQ(jtag_count(chain), 2);
    DevAlgModule* module = jtag_bind_algorithm(chain, 1);
    ASSERT_NE(module, nullptr);
    Devopt* devopt = device_devopt(chain_get_device(chain, 1));
    devopt->algorithm = module;
    devopt->algorithm_release = devalg_close;
    devopt->file_path = file;
    devopt->selected = 1;
    EXPECT_EQ(devalg_call(module, DEVALG_WRITE), JTAG_OK) << ui_.log;
    EXPECT_TRUE(pl->engine().done());
    jtag_close_chain(chain);
    fs::remove(file);
}

}  // namespace
}  // namespace vireo::app
