#include "devalg/sequence.h"
#include "devalg_fixture.h"
#include "jtag/status.h"
#include "sim/arm_dap.h"

namespace vireo::test {
namespace {

using Spartan6Test = DevalgTest;

const char* const kSpartan6Parts[] = {
    "XC6SLX4",   "XC6SLX9",   "XC6SLX16",  "XC6SLX25",   "XC6SLX25T", "XC6SLX45",  "XC6SLX45T",
    "XC6SLX75",  "XC6SLX75T", "XC6SLX100", "XC6SLX100T", "XC6SLX150", "XC6SLX150T",
};

TEST_F(Spartan6Test, EveryPartConfiguresFromAFullImage) {
    for (const char* part : kSpartan6Parts) {
        SCOPED_TRACE(part);
        Chain* chain = detected({part});
        BindingPtr module = bind(chain, 0, bit_file(part));
        ASSERT_TRUE(module);
        ASSERT_TRUE(module->state);
        EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_OK);
        EXPECT_TRUE(fpga()->engine().done());
        EXPECT_EQ(fpga()->instruction(), sim::XilinxInstr::Bypass);
        EXPECT_EQ(device_devopt(chain_get_device(chain, 0))->status, JTAG_OK);
        EXPECT_FALSE(chain_is_locked(chain));
        EXPECT_EQ(cable_state().lock_requests.back(), 0) << "cable lock released";
        EXPECT_EQ(printed(), "");
    }
}

}  // namespace
}  // namespace vireo::test
