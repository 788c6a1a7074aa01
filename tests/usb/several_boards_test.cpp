// Several boards on one emulated bus: vireo lists them, --usb and --serial choose one, and two
// processes configure two boards at the same time without disturbing each other.

#include "usb/usb_fixture.h"

namespace vireo::test {
namespace {

class SeveralBoards : public EmulatedUsbTest {
  protected:
    void SetUp() override {
        EmulatedUsbTest::SetUp();
        if (IsSkipped() || HasFailure()) return;
        a_ = &bus_->plug(board("kb2203"), 1, 2, "KB-A");
        b_ = &bus_->plug(board("kb2203"), 1, 3, "KB-B");
    }

    EmulatedDevice* a_ = nullptr;
    EmulatedDevice* b_ = nullptr;
};

// The line of `text` that starts with `place` and a blank; empty when none does.
std::string row_of(const std::string& text, const std::string& place) {
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, place.size() + 1, place + " ") == 0) return text.substr(at, end - at);
        at = end + 1;
    }
    return "";
}

TEST_F(SeveralBoards, ListShowsEveryBoardWithItsPlaceAndSerial) {
    bus_->plug(board("kb2201"), 2, 1, "NV-7");
    bus_->plug(board("fx3-boot"), 2, 4);
    const VireoRun run = vireo({"--list"});
    ASSERT_EQ(run.code, 0) << run.shown();
    const std::vector<std::vector<std::string>> rows{
        {"1:2", "2129:0640", "FX3 board", "KB-A", "Norvale Artix-7 Board"},
        {"1:3", "2129:0640", "FX3 board", "KB-B"},
        {"2:1", "2129:0101", "USB 2.0 cable/board", "NV-7", "NRVL-SP6-Brd"},
        {"2:4", "04b4:00f3", "FX3 boot loader", "-", "WestBridge"}};
    size_t previous = 0;
    for (const auto& cells : rows) {
        const std::string row = row_of(run.out, cells[0]);
        ASSERT_FALSE(row.empty()) << cells[0] << "\n" << run.shown();
        for (size_t i = 1; i < cells.size(); ++i)
            EXPECT_NE(row.find("  " + cells[i]), row.npos) << cells[i] << "\n" << run.shown();
        EXPECT_GT(run.out.find(row), previous) << "listed by place\n" << run.shown();
        previous = run.out.find(row);
    }
    EXPECT_EQ(a_->claims() + b_->claims(), 0) << "listing claims nothing";
}

TEST_F(SeveralBoards, PlaceOrSerialChoosesTheBoard) {
    const uint64_t a_before = a_->out_bytes();
    VireoRun run = vireo({"--usb", "1:3", "idcode"});
    EXPECT_EQ(run.code, 0) << run.shown();
    EXPECT_GT(b_->out_bytes(), 0u);
    EXPECT_EQ(a_->out_bytes(), a_before) << "the other board untouched";

    run = vireo({"--serial", "KB-A", "program", vendor_bitstream(dir_, "xc7a100tcsg324")});
    EXPECT_EQ(run.code, 0) << run.shown();
    EXPECT_TRUE(configured(*a_));
    EXPECT_FALSE(configured(*b_));

    // An absent choice is not found, never replaced by another board.
    for (auto args : {std::vector<std::string>{"--usb", "1:4", "idcode"},
                      std::vector<std::string>{"--serial", "KB-C", "idcode"}}) {
        run = vireo(args);
        EXPECT_EQ(run.code, 1) << run.shown();
        EXPECT_NE(run.out.find("was not found"), std::string::npos) << run.shown();
    }
    // Without a choice, the first board listed.
    const uint64_t a_then = a_->out_bytes(), b_then = b_->out_bytes();
    EXPECT_EQ(vireo({"idcode"}).code, 0);
    EXPECT_GT(a_->out_bytes(), a_then);
    EXPECT_EQ(b_->out_bytes(), b_then);
    run = vireo({"detect", "--all"});
    EXPECT_EQ(run.code, 0) << run.shown();
    EXPECT_NE(run.out.find("Board 1:2"), std::string::npos) << run.shown();
    EXPECT_NE(run.out.find("Board 1:3"), std::string::npos) << run.shown();
}

TEST_F(SeveralBoards, TwoProcessesConfigureTwoBoardsAtOnce) {
    const std::string bit = vendor_bitstream(dir_, "xc7a100tcsg324");
    const std::string env = bus_->child_environment();
    const std::string both =
        "{ " + vireo_command(dir_, "a", {"--serial", "KB-A", "program", bit}, env) + "; } & { " +
        vireo_command(dir_, "b", {"--usb", "1:3", "program", bit}, env) + "; } & wait";
    ASSERT_NE(std::system(both.c_str()), -1);
    for (const char* tag : {"a", "b"}) {
        const VireoRun run = collect(dir_, tag);
        EXPECT_EQ(run.code, 0) << tag << "\n" << run.shown();
    }
    EXPECT_TRUE(configured(*a_));
    EXPECT_TRUE(configured(*b_));
    EXPECT_EQ(a_->claims() + b_->claims(), 0);
}

}  // namespace
}  // namespace vireo::test
