// Write answers what the FPGA did: programming errors from the read-back on both families, a
// lost cable at any step, slow clearing after JPROGRAM, and Cancel only when it cut the image.
#include "devalg/config_status.h"
#include "devalg_fixture.h"

namespace vireo::test {
namespace {

const std::string kStarted = "デバイス書き込み成功。起動します。";

// An image the FPGA must refuse, and why.
struct BadImage {
    const char* what;
    sim::BitgenOptions options;
};

std::vector<BadImage> bad_images() {
    std::vector<BadImage> images(5);
    images[0] = {"bad CRC", {}};
    images[0].options.bad_crc = true;
    images[1] = {"wrong IDCODE", {}};
    images[1].options.wrong_idcode = true;
    images[2] = {"truncated", {}};
    images[2].options.truncate_bytes = 4096;
    images[3] = {"no startup", {}};
    images[3].options.bad_status = true;
    images[4] = {"no IDCODE", {}};
    images[4].options.no_idcode = true;
    return images;
}

TEST_F(DevalgTest, ImagesTheFpgaRefusesAreProgrammingErrorsOnBothFamilies) {
    for (const char* part : {"XC6SLX9", "XC7A100T"}) {
        for (const BadImage& image : bad_images()) {
            SCOPED_TRACE(std::string(part) + ", " + image.what);
            bind({part}, 0, bit_file(part, image.options));
            printed().clear();
            EXPECT_EQ(call(DEVALG_WRITE), JTAG_PROGRAMMING);
            EXPECT_EQ(module_->devopt->status, JTAG_PROGRAMMING);
            EXPECT_FALSE(fpga()->engine().done());
            EXPECT_NE(printed(), "") << "the log says why";
            EXPECT_EQ(printed().find(kStarted), std::string::npos);
            EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
            EXPECT_EQ(cable().lock_requests.back(), 0);
        }
    }
    // A bitstream made for another part of the family reaches the FPGA and fails its IDCODE.
    for (const auto& [target, image] :
         {std::pair{"XC6SLX16", "XC6SLX9"}, {"XC7A200T", "XC7A100T"}}) {
        SCOPED_TRACE(target);
        bind({target}, 0, bit_file(image));
        printed().clear();
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_PROGRAMMING);
        EXPECT_NE(printed().find("ID エラー"), std::string::npos) << printed();
    }
}

TEST_F(DevalgTest, ALostCableIsReportedAtEveryStepOfWriteAndShutdown) {
    for (const char* part : {"XC6SLX4", "XC7S50"}) {
        bind({part}, 0, bit_file(part));
        const int64_t start = cable().transfers;
        ASSERT_EQ(call(DEVALG_WRITE), JTAG_OK);
        const int64_t total = cable().transfers - start;
        // Inside the identity check, at JPROGRAM, in the image stream, during the read-back.
        for (int64_t cut :
             {int64_t{1}, int64_t{6}, int64_t{9}, total / 3, total - 20, total - 16, total - 4}) {
            SCOPED_TRACE(std::string(part) + " unplugged after transfer " + std::to_string(cut));
            bind({part}, 0, bit_file(part));
            cable().unplug_after = cable().transfers + cut;
            printed().clear();
            EXPECT_EQ(call(DEVALG_WRITE), JTAG_DISCONNECTED);
            EXPECT_EQ(module_->devopt->status, JTAG_DISCONNECTED);
            // Once the read-back has seen the design start, the log may say so; the result
            // still reports the lost cable.
            if (!fpga()->engine().done()) {
                EXPECT_EQ(printed().find(kStarted), std::string::npos);
            }
            EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_DISCONNECTED);
        }
    }
}

// Boards whose FPGA clears for a given time after JPROGRAM, at a given TCK rate.
class SlowClearing : public DevalgTest {
  protected:
    Chain* board_at(const char* part, uint64_t tck_hz, uint64_t clear_ns) {
        module_.reset();
        auto board = std::make_unique<sim::TapChain>(tck_hz);
        auto fpga = std::make_unique<sim::XilinxFpga>(*sim::find_xilinx_part(part));
        fpga->engine().set_clear_time_ns(clear_ns);
        board->add(std::move(fpga));
        Chain* chain = open(std::move(board));
        EXPECT_EQ(chain_detect(chain), 1);
        return chain;
    }
};

TEST_F(SlowClearing, WriteWaitsForInitUpToTheLongestClearingTime) {
    // Data-sheet maxima: about 2 ms on Spartan-6, 5 ms on 7-series; both TCK rates of the boards.
    for (const auto& [part, clear_ns] :
         {std::pair{"XC6SLX16", 2'000'000}, {"XC7A100T", 5'000'000}}) {
        for (uint64_t tck : {6'000'000u, 30'000'000u}) {
            SCOPED_TRACE(std::string(part) + " at " + std::to_string(tck) + " Hz");
            bind(board_at(part, tck, clear_ns), 0, bit_file(part));
            EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
            EXPECT_TRUE(fpga()->engine().done());
        }
    }
    // A part that never finishes clearing is a programming error, with no image sent.
    bind(board_at("XC7A100T", 30'000'000, 1'000'000'000), 0, bit_file("XC7A100T"));
    printed().clear();
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_PROGRAMMING);
    EXPECT_NE(printed().find("INIT did not go high"), std::string::npos) << printed();
    EXPECT_TRUE(g_progress.empty() || std::get<0>(g_progress.back()) <= 1) << "no image piece";
}

TEST_F(DevalgTest, ACancelAfterTheLastPieceLeavesTheVerdictToTheFpga) {
    for (const char* part : {"XC6SLX4", "XC7A100T"}) {
        SCOPED_TRACE(part);
        bind({part}, 0, bit_file(part));
        g_on_progress = [this](int current) {
            if (!g_progress.empty() && current == std::get<1>(g_progress.back()) && current > 2)
                devalg_entry<DevAlgStatusFn>(module_.get(), DEVALG_CANCEL)(module_.get());
        };
        EXPECT_EQ(call(DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().done());
    }
}

TEST_F(DevalgTest, ConfigStatusReadsBothFamiliesWithoutChangingThem) {
    for (const char* part : {"XC6SLX16", "XC7A100T"}) {
        SCOPED_TRACE(part);
        bind({part}, 0, bit_file(part));
        ConfigStatus before;
        ASSERT_EQ(devalg_read_config_status(module_.get(), &before), JTAG_OK);
        EXPECT_FALSE(before.ir_capture & kIrCaptureDone);
        ASSERT_EQ(call(DEVALG_WRITE), JTAG_OK);
        ConfigStatus after;
        ASSERT_EQ(devalg_read_config_status(module_.get(), &after), JTAG_OK);
        EXPECT_TRUE(after.ir_capture & kIrCaptureDone);
        EXPECT_TRUE(after.ir_capture & kIrCaptureInit);
        EXPECT_EQ(after.stat, fpga()->engine().stat());
        EXPECT_EQ(after.bootsts, fpga()->engine().bootsts());
        EXPECT_TRUE(fpga()->engine().done()) << "reading leaves the design running";
        EXPECT_FALSE(fpga()->engine().synced());
        EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);

        cable().unplug_after = cable().transfers + 2;
        EXPECT_EQ(devalg_read_config_status(module_.get(), &after), JTAG_DISCONNECTED);
    }
}

}  // namespace
}  // namespace vireo::test
