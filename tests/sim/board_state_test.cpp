#include "sim/board_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "sim/bitgen.h"
#include "sim/virtual_board.h"
#include "sim/xilinx_fpga.h"
#include "sim_scan.h"

namespace vireo::sim {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kInit = 1 << 4, kDone = 1 << 5;

class BoardState : public ::testing::Test {
  protected:
    void TearDown() override { fs::remove_all(dir_); }

    std::shared_ptr<VirtualBoard> board(const std::string& preset = "kb2201") {
        auto b = make_virtual_board(preset + ",state=" + dir_.string());
        std::string error;
        EXPECT_TRUE(b->attach_state(&error)) << error;
        return b;
    }
    static XilinxFpga& fpga(VirtualBoard& b) { return *b.chain().find<XilinxFpga>(); }
    static uint64_t status(VirtualBoard& b) {
        return test::ir_scan(b.chain(), instruction_code(Family::Spartan6, XilinxInstr::Bypass), 6);
    }
    // Programs an image from address 0 the way a programmer does on the AT45 (0x82 per page).
    static void program(SpiFlash& flash, const std::vector<uint8_t>& image) {
        uint64_t now = 0;
        for (size_t page = 0; page * 528 < image.size(); ++page) {
            const uint32_t a = static_cast<uint32_t>(page << 10);
            std::vector<uint8_t> cmd = {0x82, uint8_t(a >> 16), uint8_t(a >> 8), 0};
            for (size_t i = page * 528; i < page * 528 + 528; ++i)
                cmd.push_back(i < image.size() ? image[i] : 0xFF);
            flash.select();
            for (uint8_t b : cmd) flash.output(), flash.input(b);
            flash.deselect(true);
            flash.advance(now += 20'000'000);
        }
    }

    fs::path dir_ = fs::temp_directory_path() / ("vireo_state_" + std::to_string(getpid()));
};

TEST_F(BoardState, LockedOrDamagedFolderIsRefused) {
    fs::create_directories(dir_);
    {
        const int fd = ::open((dir_ / "lock").c_str(), O_RDWR | O_CREAT, 0644);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        std::string error;
        EXPECT_FALSE(StateFolder(dir_.string(), 50).save(SavedBoard{}, &error));
        EXPECT_NE(error.find("locked"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(dir_ / "board.txt"));
        // The one who waits is told so at once, and once.
        int told = 0;
        EXPECT_FALSE(StateFolder(dir_.string(), 50).claim(&error, [&] { ++told; }));
        EXPECT_EQ(told, 1);
        ::close(fd);
    }
    std::ofstream(dir_ / "board.txt") << "powered=1\nusercode=banana\n";
    std::string error;
    EXPECT_FALSE(StateFolder(dir_.string()).load(&error));
    EXPECT_NE(error.find("malformed"), std::string::npos);
    auto b = make_virtual_board("kb2201,state=" + dir_.string());
    EXPECT_FALSE(b->attach_state(&error));
    EXPECT_EQ(error.rfind("VIREO_SIM: ", 0), 0u) << error;
}

// A saved flash of this board's part that is cut short, or a state file that cannot be read, is
// refused and left for the user to look at: the board never starts with a blank flash instead.
TEST_F(BoardState, DamagedStateIsRefusedNotTakenForABlankBoard) {
    program(*fpga(*board()).flash(), std::vector<uint8_t>(600, 0x00));
    const fs::path flash = dir_ / "flash.bin", text = dir_ / "board.txt";
    const auto refusal = [this] {
        std::string error;
        EXPECT_FALSE(make_virtual_board("kb2201,state=" + dir_.string())->attach_state(&error));
        return error;
    };
    for (const uintmax_t size : {100u, 0u}) {
        fs::resize_file(flash, size);
        const std::string error = refusal();
        EXPECT_NE(error.find(flash.string() + " holds " + std::to_string(size) +
                             " bytes, the AT45DB161D holds 2162688"),
                  std::string::npos)
            << error;
        EXPECT_EQ(fs::file_size(flash), size);
    }
    EXPECT_EQ(fpga(*board("kb2201,flash=AT45DB081D")).flash()->array()[0], 0xFF)
        << "a flash saved for another part is replaced";
    fs::remove(flash);
    fs::create_directory(flash);
    EXPECT_NE(refusal().find(flash.string() + " cannot be read: Is a directory"),
              std::string::npos);
    fs::remove(text);
    fs::create_directory(text);
    EXPECT_NE(refusal().find(text.string() + " cannot be read: "), std::string::npos);
}

// A save that cannot write its files says which and why, and leaves no temporary file; the
// temporary files of a save killed midway go at the next start.
TEST_F(BoardState, FailedSaveSaysWhyAndKilledSavesLeaveNothing) {
    fs::create_directories(dir_);
    for (const char* name : {"board.txt.tmp4242", "flash.bin.tmp17", "notes.tmp1"})
        std::ofstream(dir_ / name) << "x";
    auto b = board();
    EXPECT_FALSE(fs::exists(dir_ / "board.txt.tmp4242"));
    EXPECT_FALSE(fs::exists(dir_ / "flash.bin.tmp17"));
    EXPECT_TRUE(fs::exists(dir_ / "notes.tmp1")) << "not a save's";
    fs::remove(dir_ / "notes.tmp1");

    program(*fpga(*b).flash(), std::vector<uint8_t>(600, 0x00));
    // A file size limit stops root too: the 2 MB flash meets it like a full disk.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlim_t unlimited = limit.rlim_cur;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    std::string error;
    const bool saved = b->save_state(&error);
    limit.rlim_cur = unlimited;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(error, "The virtual board's state could not be saved: cannot write " +
                         (dir_ / "flash.bin").string() +
                         ": File too large; the flash and the running design of this run are "
                         "lost.");
    for (const auto& f : fs::directory_iterator(dir_))
        EXPECT_EQ(f.path().string().find(".tmp"), std::string::npos) << f.path();
    EXPECT_FALSE(fs::exists(dir_ / "flash.bin"));
    EXPECT_TRUE(b->save_state(&error)) << error;
    EXPECT_EQ(fs::file_size(dir_ / "flash.bin"), 2162688u);
}

TEST_F(BoardState, FlashAndDesignOutliveTheProcessUntilUnplugged) {
    const std::vector<uint8_t> image = make_config_image(*find_xilinx_part("XC6SLX16"), {});
    const uint64_t read_ns = (image.size() + 1000) * 8'000'000'000ull / XilinxFpga::kBootCclkHz;
    {
        auto b = board();  // a fresh folder: blank flash, unconfigured FPGA
        EXPECT_EQ(fpga(*b).flash()->array(), std::vector<uint8_t>(2 * 1024 * 1024 + 65536, 0xFF));
        program(*fpga(*b).flash(), image);
        EXPECT_EQ(status(*b) & kDone, 0u);
    }
    for (const auto& f : fs::directory_iterator(dir_))
        EXPECT_EQ(f.path().string().find(".tmp"), std::string::npos) << f.path();
    {
        auto b = board();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), fpga(*b).flash()->array().begin()));
        EXPECT_FALSE(fpga(*b).booting()) << "still powered since: no power-up";
        test::ir_scan(b->chain(), instruction_code(Family::Spartan6, XilinxInstr::Jprogram), 6);
        b->chain().wait_ns(read_ns);
        EXPECT_EQ(status(*b) & (kInit | kDone), kInit | kDone);
    }
    {
        auto b = board();
        EXPECT_EQ(status(*b) & (kInit | kDone), kInit | kDone) << "the design kept running";
        b->unplug();
    }
    auto b = board();
    EXPECT_EQ(status(*b) & kDone, 0u) << "unplugged: this start is a power-up";
    b->chain().wait_ns(read_ns);
    EXPECT_EQ(status(*b) & kDone, kDone) << "loaded from flash at power-up";
}

TEST_F(BoardState, AnotherFlashPartStartsBlank) {
    {
        auto b = board();
        program(*fpga(*b).flash(), std::vector<uint8_t>(600, 0x00));
    }
    {
        auto b = board("kb2201,flash=AT45DB081D");
        EXPECT_EQ(fpga(*b).flash()->array()[0], 0xFF);
    }
    auto b = board();
    EXPECT_EQ(fpga(*b).flash()->array()[0], 0xFF) << "the other part's contents replaced these";
}

TEST_F(BoardState, Fx3FirmwareStaysUntilUnplugged) {
    {
        auto b = board("fx3-boot");
        b->become_board();
    }
    {
        auto b = board("fx3-boot");
        EXPECT_EQ(b->preset().name, "kb2203");
        b->unplug();
    }
    EXPECT_EQ(board("fx3-boot")->preset().name, "fx3-boot");
}

}  // namespace
}  // namespace vireo::sim
