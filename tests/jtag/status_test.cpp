#include "jtag/status.h"

#include <new>
#include <stdexcept>

#include "chain_fixture.h"
#include "jtag/c_boundary.h"

namespace vireo::test {
namespace {

using StatusReport = ChainTest;

int out_of_memory(int) {
    throw std::bad_alloc();
}
const char* broken(const char*) {
    throw std::runtime_error("broken");
}
int fine(int value) {
    return value + 1;
}

TEST(CBoundary, NoExceptionLeavesAnEntryPoint) {
    EXPECT_EQ(CBoundary<&out_of_memory>::call(1), JTAG_NO_MEMORY);
    EXPECT_EQ(CBoundary<&broken>::call("x"), nullptr);
    EXPECT_EQ(CBoundary<&fine>::call(1), 2);
    static_assert(noexcept(CBoundary<&out_of_memory>::call(1)));
}

TEST_F(StatusReport, PrintsEachFailedDeviceWithItsPositionAndText) {
    Chain* chain = detected({"ARM_DAP", "XC7Z020"});
    device_devopt(chain_get_device(chain, 0))->status = 17;
    device_devopt(chain_get_device(chain, 1))->status = 13;
    printed().clear();
    EXPECT_EQ(chain_report_errors(chain), 13);
    const std::string dap = device_description(chain_get_device(chain, 0));
    EXPECT_EQ(printed(), "ERROR: Error occured at device, positon 1 [" + dap +
                             "]\n\n Reason:\n  JTAG operation was failed by unkwnon error code 17\n"
                             "ERROR: Error occured at device, positon 2 [XC7Z020]\n\n Reason:\n  "
                             "JTAG operation was failed by unkwnon error code 13\n");

    printed().clear();
    device_devopt(chain_get_device(chain, 0))->status = JTAG_OK;
    device_devopt(chain_get_device(chain, 1))->status = JTAG_VERIFY;
    EXPECT_EQ(chain_report_errors(chain), JTAG_VERIFY);
    EXPECT_NE(printed().find("positon 2 [XC7Z020]\n\n Reason:\n  "
                             "JTAG operation was failed by verify error\n"),
              std::string::npos);
    EXPECT_EQ(printed().find("positon 1"), std::string::npos) << "success prints nothing";

    EXPECT_EQ(chain_reset_status(chain), JTAG_OK);
    printed().clear();
    EXPECT_EQ(chain_report_errors(chain), JTAG_OK);
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(chain_report_errors(nullptr), JTAG_NULL);
    EXPECT_EQ(chain_reset_status(nullptr), JTAG_NULL);
}

}  // namespace
}  // namespace vireo::test
