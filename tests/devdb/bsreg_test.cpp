#include "devdb/bsreg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "devdb/part.h"
#include "jtag/msg.h"
#include "support/printed.h"

namespace {

struct RegDeleter {
    void operator()(BsReg* r) const { bsreg_free(r); }
};
using Reg = std::unique_ptr<BsReg, RegDeleter>;

std::vector<uint8_t> plane_copy(BsReg* reg, int plane) {
    uint8_t* p = bsreg_plane(reg, plane);
    return std::vector<uint8_t>(p, p + bsreg_length(reg));
}

TEST(BsReg, NewRegistersHoldTheirDefaults) {
    Reg one(bsreg_new(0));
    ASSERT_TRUE(one);
    EXPECT_EQ(bsreg_length(one.get()), 1);
    Reg reg(bsreg_new(12));
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDI), std::vector<uint8_t>(12, 0));
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDIMASK), std::vector<uint8_t>(12, 1));
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDO), std::vector<uint8_t>(12, 0));
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDOMASK), std::vector<uint8_t>(12, 1));
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDOCAPTURE), std::vector<uint8_t>(12, 0));
}

TEST(BsReg, SetAndGetRoundTripAtEveryOffsetAndWidth) {
    Reg reg(bsreg_new(70));
    const uint32_t pattern = 0xDEADBEEF;
    for (int count = 1; count <= 32; ++count) {
        const uint32_t expected = count == 32 ? pattern : pattern & ((1u << count) - 1);
        for (int offset = 0; offset + count <= 70; ++offset) {
            bsreg_fill(reg.get(), BSREG_TDO, 1, 0, 0);
            ASSERT_EQ(bsreg_set(reg.get(), BSREG_TDO, pattern, offset, count), 1);
            uint32_t back = 0;
            ASSERT_EQ(bsreg_get(reg.get(), BSREG_TDO, offset, count, &back), 1);
            ASSERT_EQ(back, expected) << "offset " << offset << " count " << count;
            // Bits outside the run are untouched.
            const uint8_t* p = bsreg_plane(reg.get(), BSREG_TDO);
            if (offset > 0) {
                ASSERT_EQ(p[offset - 1], 1);
            }
            if (offset + count < 70) {
                ASSERT_EQ(p[offset + count], 1);
            }
        }
    }
}

TEST(BsReg, WideRunsAndTheNoBitOffset) {
    Reg reg(bsreg_new(64));
    bsreg_fill(reg.get(), BSREG_TDI, 1, 0, 0);
    ASSERT_EQ(bsreg_set(reg.get(), BSREG_TDI, 0xFFFFFFFF, 4, 40), 1);
    const uint8_t* p = bsreg_plane(reg.get(), BSREG_TDI);
    for (int i = 4; i < 36; ++i) EXPECT_EQ(p[i], 1);
    for (int i = 36; i < 44; ++i) EXPECT_EQ(p[i], 0) << "bit " << i;
    EXPECT_EQ(p[44], 1);

    const auto before = plane_copy(reg.get(), BSREG_TDI);
    EXPECT_EQ(bsreg_set(reg.get(), BSREG_TDI, 0, -1, 8), 1);
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDI), before);

    Reg id(bsreg_new(32));
    bsreg_set(id.get(), BSREG_TDOCAPTURE, 0xff00aa55, 0, 32);
    uint32_t value = 0;
    ASSERT_EQ(bsreg_get(id.get(), BSREG_TDOCAPTURE, 0, 0, &value), 1) << "count 0: whole register";
    EXPECT_EQ(value, 0xff00aa55u);
}

TEST(BsReg, RefusedRunsLeaveEveryPlaneUnchanged) {
    Reg reg(bsreg_new(32));
    bsreg_set(reg.get(), BSREG_TDI, 0x12345678, 0, 32);
    std::vector<std::vector<uint8_t>> before;
    for (int p = 0; p < kBsRegPlanes; ++p) before.push_back(plane_copy(reg.get(), p));

    uint8_t src[64] = {1};
    uint8_t dst[64];
    uint32_t value = 0xAAAA;
    EXPECT_EQ(bsreg_set(reg.get(), BSREG_TDI, 0xFFFFFFFF, 30, 10), 0);
    EXPECT_EQ(bsreg_fill(reg.get(), BSREG_TDI, 1, 33, 0), 0);
    EXPECT_EQ(bsreg_fill(reg.get(), BSREG_TDI, 1, -2, 4), 0);
    EXPECT_EQ(bsreg_write(reg.get(), BSREG_TDO, 1, 32, src), 0);
    EXPECT_EQ(bsreg_write(reg.get(), BSREG_TDO, 0, -5, src), 0);
    EXPECT_EQ(bsreg_read(reg.get(), BSREG_TDO, 16, 17, dst), 0);
    EXPECT_EQ(bsreg_get(reg.get(), BSREG_TDI, 8, 0, &value), 0) << "count 0 at offset 8";
    EXPECT_EQ(bsreg_get(reg.get(), BSREG_TDI, 0, 8, nullptr), 0);
    EXPECT_EQ(value, 0xAAAAu);
    EXPECT_EQ(bsreg_set(reg.get(), 5, 1, 0, 1), 0);
    EXPECT_EQ(bsreg_plane(reg.get(), -1), nullptr);
    for (int p = 0; p < kBsRegPlanes; ++p) EXPECT_EQ(plane_copy(reg.get(), p), before[p]);

    // A dead or foreign record is refused without a crash.
    BsReg fake;
    fake.tag = 77;
    EXPECT_EQ(bsreg_length(&fake), 0);
    EXPECT_EQ(bsreg_set(&fake, 0, 1, 0, 1), 0);
    EXPECT_EQ(bsreg_length(nullptr), 0);
    bsreg_free(&fake);
    bsreg_free(nullptr);
}

TEST(BsReg, BulkReadWriteAndResize) {
    Reg reg(bsreg_new(100));
    std::vector<uint8_t> bits(60);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = (i * 7 + 3) % 5 == 0;
    ASSERT_EQ(bsreg_write(reg.get(), BSREG_TDI, 40, 60, bits.data()), 1);
    std::vector<uint8_t> back(60);
    ASSERT_EQ(bsreg_read(reg.get(), BSREG_TDI, 40, 0, back.data()), 1);
    EXPECT_EQ(back, bits);

    // Resizing resets every plane to its default.
    ASSERT_EQ(bsreg_resize(reg.get(), 10), 1);
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDI), std::vector<uint8_t>(10, 0));
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDOMASK), std::vector<uint8_t>(10, 1));
    ASSERT_EQ(bsreg_resize(reg.get(), 3000), 1);
    EXPECT_EQ(plane_copy(reg.get(), BSREG_TDIMASK), std::vector<uint8_t>(3000, 1));
}

// Random writes by every route (set, fill, write, a plane pointer) between random resizes, long
// and short, against a model that resets every plane in full: a resize must leave no written bit
// behind, however little of the register it clears.
TEST(BsReg, EveryResizeResetsWhatWasWrittenInAnyWay) {
    std::mt19937 random(11);
    const uint8_t defaults[kBsRegPlanes] = {0, 1, 0, 1, 0};
    Reg reg(bsreg_new(8));
    std::array<std::vector<uint8_t>, kBsRegPlanes> model;
    for (int p = 0; p < kBsRegPlanes; ++p) model[p].assign(8, defaults[p]);
    for (int step = 0; step < 4000; ++step) {
        const int length = bsreg_length(reg.get());
        const int plane = static_cast<int>(random() % kBsRegPlanes);
        const int offset = static_cast<int>(random() % length);
        const int count = 1 + static_cast<int>(random() % (length - offset));
        switch (random() % 5) {
            case 0: {
                const int n = random() % 4 ? 1 + random() % 40 : 1 + random() % 3000;
                ASSERT_EQ(bsreg_resize(reg.get(), n), 1);
                for (int p = 0; p < kBsRegPlanes; ++p) model[p].assign(n, defaults[p]);
                break;
            }
            case 1:
                ASSERT_EQ(bsreg_fill(reg.get(), plane, 1 - defaults[plane], offset, count), 1);
                std::fill_n(model[plane].begin() + offset, count, 1 - defaults[plane]);
                break;
            case 2: {
                const uint32_t value = random();
                ASSERT_EQ(bsreg_set(reg.get(), plane, value, offset, std::min(count, 32)), 1);
                for (int i = 0; i < std::min(count, 32); ++i)
                    model[plane][offset + i] = (value >> i) & 1;
                break;
            }
            case 3: {
                const std::vector<uint8_t> bits(count, uint8_t(1 - defaults[plane]));
                ASSERT_EQ(bsreg_write(reg.get(), plane, offset, count, bits.data()), 1);
                std::fill_n(model[plane].begin() + offset, count, bits[0]);
                break;
            }
            default:
                bsreg_plane(reg.get(), plane)[offset] ^= 1;
                model[plane][offset] ^= 1;
                break;
        }
        for (int p = 0; p < kBsRegPlanes; ++p) {
            const uint8_t* bits = bsreg_plane_view(reg.get(), p);
            ASSERT_TRUE(std::equal(model[p].begin(), model[p].end(), bits))
                << "plane " << p << " after step " << step;
        }
    }
}

PartRecord xilinx_part() {
    PartRecord part;
    part.name = "XC7A100T";
    part.ir_length = 6;
    part.ir_capture_value = bits_value("XX0001");
    part.ir_capture_mask = bits_mask("XX0001");
    part.instructions = {{"BYPASS", bits_value("111111"), bits_mask("111111")},
                         {"IDCODE", bits_value("001001"), bits_mask("001001")},
                         {"PRIVATE", bits_value("1X0X01"), bits_mask("1X0X01")}};
    return part;
}

std::string msb_first(BsReg* reg, int plane) {
    std::string s;
    for (int i = bsreg_length(reg) - 1; i >= 0; --i) s += bsreg_plane(reg, plane)[i] ? '1' : '0';
    return s;
}

TEST(BsReg, LoadInstructionByNameLiteralOrUnknown) {
    const PartRecord part = xilinx_part();
    Reg ir(bsreg_new(6));
    ASSERT_EQ(bsreg_load_instruction(ir.get(), &part, "0x3"), 1);
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDI), "000011");
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDIMASK), "111111");
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDO), "000001");
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDOMASK), "001111");

    ASSERT_EQ(bsreg_load_instruction(ir.get(), &part, "idcode"), 1);
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDI), "001001");
    ASSERT_EQ(bsreg_load_instruction(ir.get(), &part, "private"), 1);
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDI), "100001");
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDIMASK), "101011");

    EXPECT_EQ(bsreg_load_instruction(ir.get(), &part, "JPROGRAM"), 0);
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDI), "111111");
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDIMASK), "111111");
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDO), "000000");
    EXPECT_EQ(msb_first(ir.get(), BSREG_TDOMASK), "000000") << "nothing is compared";
    EXPECT_EQ(bsreg_load_instruction(ir.get(), nullptr, "BYPASS"), 0);

    PartRecord unknown;  // not in the database: IR length 0, a one-bit register
    Reg one(bsreg_new(unknown.ir_length));
    EXPECT_EQ(bsreg_load_instruction(one.get(), &unknown, "BYPASS"), 0);
    EXPECT_EQ(msb_first(one.get(), BSREG_TDI), "1");
}

TEST(BsReg, DumpShowsEveryPlaneMostSignificantBitFirst) {
    set_print_callback(vireo::test::collect_print);
    vireo::test::printed().clear();
    Reg reg(bsreg_new(4));
    bsreg_set(reg.get(), BSREG_TDI, 0x3, 0, 4);
    bsreg_set(reg.get(), BSREG_TDOCAPTURE, 0x8, 0, 4);
    bsreg_dump(reg.get());
    EXPECT_EQ(vireo::test::printed(),
              "         MSB\n"
              "TDI        :0011\n"
              "TDIMASK    :1111\n"
              "TDO        :0000\n"
              "TDOMASK    :1111\n"
              "TDOCAPTURE :1000\n"
              "\n");
    vireo::test::printed().clear();
    bsreg_dump(nullptr);
    EXPECT_EQ(vireo::test::printed(), "BSREG is (null).\n");
}

}  // namespace
