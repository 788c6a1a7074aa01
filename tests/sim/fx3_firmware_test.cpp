// The JTAG firmware model on its own: batches, long "S" chunks, held commands, the wait's
// trailing byte and the vector command, against a chain of one FPGA.
#include "sim/fx3_firmware.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/xilinx_fpga.h"
#include "sim/xilinx_parts.h"

namespace vireo::test {
namespace {

class Fx3Firmware : public ::testing::Test {
  protected:
    Fx3Firmware() {
        chain_.add(std::make_unique<sim::XilinxFpga>(*sim::find_xilinx_part("XC7A100T")));
    }

    void send(std::vector<uint8_t> commands) {
        commands.insert(commands.begin(), {'T', 'K'});
        fw_.receive(commands.data(), commands.size());
    }
    // Walks from Test-Logic-Reset to Shift-DR.
    std::vector<uint8_t> to_shift_dr() { return {'M', 0x32, 'M', 0x33, 'M', 0x32, 'M', 0x32}; }

    sim::TapChain chain_{30'000'000};
    sim::Fx3Firmware fw_{chain_, true};
    std::vector<uint8_t> reply_;
};

TEST_F(Fx3Firmware, AShortShiftAheadOfOtherCommandsIsNeverTakenLong) {
    // An IR scan in two chunks, a walk and a 128-bit capture: the bytes after the first "S" add
    // up to a long-chunk size, but they are commands.
    std::vector<uint8_t> cmds = {'M', 0x32, 'M',  0x33, 'M', 0x33, 'M',  0x32, 'M', 0x32,
                                 'S', 5,    0x00, 0x09, 'S', 1,    0x01, 0x00, 'M', 0x33,
                                 'M', 0x33, 'M',  0x32, 'M', 0x32, 0x00, 'S',  128, 0x03};
    cmds.resize(cmds.size() + 16, 0);
    cmds.push_back(0x00);
    const uint64_t tck = chain_.tck_count();
    send(cmds);
    EXPECT_EQ(chain_.tck_count() - tck, 5u + 5 + 1 + 4 + 128);
    ASSERT_TRUE(fw_.take_reply(&reply_));
    EXPECT_EQ(reply_.size(), 16u);
    EXPECT_FALSE(fw_.take_reply(&reply_)) << "one reply per batch";
}

TEST_F(Fx3Firmware, ALongChunkCutByAFullPacketIsHeldUntilItsEnd) {
    send(to_shift_dr());
    // A write-only filler fills the packet so that a 1000-bit capture starts 40 bytes before
    // its end; the rest follows in the next packet.
    std::vector<uint8_t> full = {'T', 'K'};
    const size_t filler = sim::kFx3PacketSize - 2 - 40 - 3;
    full.push_back('F');
    full.push_back(static_cast<uint8_t>(filler - 3));
    full.push_back(static_cast<uint8_t>((filler - 3) >> 8));
    full.resize(2 + filler, 0);
    const std::vector<uint8_t> chunk_head = {'S', 1000 & 0xFF, 0x02};
    full.insert(full.end(), chunk_head.begin(), chunk_head.end());
    full.resize(sim::kFx3PacketSize, 0xFF);
    const uint64_t tck = chain_.tck_count();
    fw_.receive(full.data(), full.size());
    EXPECT_EQ(chain_.tck_count() - tck, filler - 3) << "the filler ran, the chunk waits";

    std::vector<uint8_t> rest(85, 0xFF);
    rest.push_back(0x00);
    send(rest);
    EXPECT_EQ(chain_.tck_count() - tck, filler - 3 + 1000);
    ASSERT_TRUE(fw_.take_reply(&reply_));
    EXPECT_EQ(reply_.size(), 125u);
}

TEST_F(Fx3Firmware, AFullPacketEndingABatchIsSettledByTheRead) {
    send(to_shift_dr());
    std::vector<uint8_t> full = {'T', 'K', 'F'};
    const size_t filler = sim::kFx3PacketSize - 2 - 3 - 3 - 4 - 1;
    full.push_back(static_cast<uint8_t>(filler));
    full.push_back(static_cast<uint8_t>(filler >> 8));
    full.resize(full.size() + filler, 1);
    full.insert(full.end(), {'S', 32, 0x02, 1, 2, 3, 4, 0});
    ASSERT_EQ(full.size(), sim::kFx3PacketSize);
    fw_.receive(full.data(), full.size());
    ASSERT_TRUE(fw_.take_reply(&reply_)) << "the read request ends the batch";
    EXPECT_EQ(reply_.size(), 4u);
}

TEST_F(Fx3Firmware, WaitTrailerStatusAndVectors) {
    const uint64_t ns = chain_.now_ns();
    send({'W', 0x00, 0x00, 0x00, 0x03});  // 50 s: its top byte repeated is the pin command
    send({0x03});
    EXPECT_EQ(chain_.now_ns() - ns, 0x03000000ull * 1000);
    send({'X', 'Q'});
    ASSERT_TRUE(fw_.take_reply(&reply_));
    EXPECT_EQ(reply_, std::vector<uint8_t>({0x13, 0x33})) << "pins untouched by the trailer";

    // "x": TMS/TDI per byte index: reset, walk to Shift-DR, read 8 IDCODE bits.
    send({'x', 17, 0, 0x5F, 0x00, 0x00, 0x00, 0x00, 0x00});
    ASSERT_TRUE(fw_.take_reply(&reply_));
    ASSERT_EQ(reply_.size(), 3u);
    const uint32_t idcode = chain_.find<sim::XilinxFpga>()->idcode();
    EXPECT_EQ(((reply_[1] >> 1) | (reply_[2] << 7)) & 0xFF, idcode & 0xFF) << "TDO of clocks 9-16";
    EXPECT_EQ(chain_.state(), sim::TapState::ShiftDr);
}

}  // namespace
}  // namespace vireo::test
