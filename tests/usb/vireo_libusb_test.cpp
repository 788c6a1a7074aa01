// vireo as a user runs it on a board, through the libusb back-ends and the emulated bus.

#include <cctype>
#include <cstring>

#include "cables/fx3.h"
#include "sim/fx3_bootloader.h"
#include "usb/usb_fixture.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

// The log without its times ("2026/12/08 07:22:51"), which differ from run to run.
std::string timeless(std::string text) {
    const auto digits = [&](size_t at, size_t n) {
        for (size_t i = at; i < at + n; ++i)
            if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i])))
                return false;
        return true;
    };
    for (size_t at = text.find('/'); at != std::string::npos; at = text.find('/', at + 1)) {
        if (at >= 4 && digits(at - 4, 4) && text.compare(at + 3, 1, "/") == 0 &&
            digits(at + 4, 2) && text.compare(at + 6, 1, " ") == 0 && digits(at + 7, 2))
            text.replace(at - 4, 19, "<time>");
    }
    return text;
}

class VireoOnUsb : public EmulatedUsbTest {
  protected:
    VireoRun virtual_board(const std::string& preset, const std::vector<std::string>& args) {
        return run_vireo(dir_, args, "VIREO_SIM=" + preset);
    }
};

// detect, idcode, program of a vendor bitstream and status through each back-end: both FX3 boards
// (SuperSpeed and high speed), a USB 2.0 board and USB 2.0 cables of both command sets. The
// emulated FPGA checks the bitstream's CRCs; the log and the result are those of the virtual
// board. (kb2204's full 9.7 MB image in 512-byte high-speed packets would take minutes through
// umockdev, at about a millisecond a transfer; kb2203 programs through the same back-end.)
class VireoOnEachBoard : public VireoOnUsb,
                         public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
};

TEST_P(VireoOnEachBoard, CommandsGiveWhatTheVirtualBoardGives) {
    const auto& [preset, part] = GetParam();
    EmulatedDevice& dev = bus_->plug(board(preset), 1, 2);
    std::vector<std::vector<std::string>> commands{{"detect"}, {"idcode"}, {"status"}};
    if (*part) commands.insert(commands.begin() + 2, {"program", vendor_bitstream(dir_, part)});
    for (const auto& args : commands) {
        VireoRun usb = vireo(args), sim = virtual_board(preset, args);
        EXPECT_EQ(usb.code, 0) << usb.shown();
        EXPECT_EQ(timeless(usb.out), timeless(sim.out)) << usb.shown() << sim.shown();
        EXPECT_EQ(usb.err, sim.err) << usb.shown() << sim.shown();
    }
    EXPECT_EQ(configured(dev), *part != 0);
}

INSTANTIATE_TEST_SUITE_P(Boards, VireoOnEachBoard,
                         ::testing::Values(std::pair{"kb2203", "xc7a100tcsg324"},
                                           std::pair{"kb2204", ""},
                                           std::pair{"kb2201", "xc6slx16csg324"},
                                           std::pair{"keenprobe", "xc6slx45csg324"},
                                           std::pair{"keenprobe-c", "xc7a100tcsg324"}),
                         [](const auto& info) {
                             std::string name = info.param.first;
                             std::erase(name, '-');
                             return name;
                         });

// The FX3 boot loader takes a firmware image through vendor request 0xA0, starts it and comes
// back as the board. The virtual board's stand-in image is refused on this path: it is no
// firmware for real hardware.
TEST_F(VireoOnUsb, FirmwareDownloadThroughTheBootLoader) {
    EmulatedDevice& loader = bus_->plug(board("fx3-boot"), 1, 3);
    VireoRun usb = vireo({"--yes", "idcode"});
    EXPECT_EQ(usb.code, 1) << usb.shown();
    EXPECT_NE(usb.out.find("not firmware for real hardware"), std::string::npos) << usb.shown();
    EXPECT_FALSE(loader.booted());

    // An image in the boot loader's format, with code of our own.
    std::vector<sim::Fx3ImageSection> sections{{0x40003000, {}}, {0x40010000, {}}};
    for (uint32_t i = 0; i < 3000; ++i) sections[0].words.push_back(0xE1A00000 + i);
    for (uint32_t i = 0; i < 700; ++i) sections[1].words.push_back(i * 2654435761u);
    const std::vector<uint8_t> image = sim::fx3_image_bytes(sections, 0x40003000);
    const fs::path file = dir_ / "firmware.img";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
    uint16_t vid = 0, pid = 0;
    char text[100], error[256] = {};
    ASSERT_EQ(fx3_open(0, &vid, &pid, text, sizeof text), 1);
    EXPECT_EQ(vid, 0x04B4);
    EXPECT_EQ(fx3_download(file.c_str(), error, sizeof error), 1) << error;
    fx3_close();
    EXPECT_EQ(loader.claims(), 0);
    ASSERT_TRUE(loader.booted());
    const std::vector<uint8_t> second = loader.loader_memory(0x40010000, 2800);
    ASSERT_EQ(second.size(), 2800u);
    EXPECT_EQ(std::memcmp(second.data(), &sections[1].words[0], 2800), 0);

    EmulatedDevice& board = bus_->reenumerate(loader);
    usb = vireo({"idcode"});
    EXPECT_EQ(usb.code, 0) << usb.shown();
    EXPECT_NE(usb.out.find("KB2203"), std::string::npos) << usb.shown();
    EXPECT_EQ(board.claims(), 0);
}

}  // namespace
}  // namespace vireo::test
