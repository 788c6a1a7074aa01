#include "devalg_fixture.h"
#include "jtag/opflag.h"

namespace vireo::test {
namespace {

using DevalgBindTest = DevalgTest;

TEST_F(DevalgBindTest, BoundModuleEntriesAndLockedCalls) {
    Chain* chain = detected({"ARM_DAP", "XC6SLX45"});
    ASSERT_EQ(device_set_idcode(chain_get_device(chain, 1), 0x34008093), 1) << "revision 3";
    EXPECT_EQ(jtag_bind_algorithm(chain, 0), nullptr) << "the DAP has no module";
    module_.reset(jtag_bind_algorithm(chain, 1));
    DevAlgModule* m = module_.get();
    ASSERT_TRUE(m && m->state);
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(m->count, 10);
    EXPECT_EQ(m->entries.back(), nullptr);
    EXPECT_EQ(m->device, chain_get_device(chain, 1));
    EXPECT_EQ(devalg_find_by_name(m, "spitxrx"), devalg_find(m, DEVALG_SPI_TXRX));
    EXPECT_STREQ(devalg_entry<DevAlgNameFn>(m, DEVALG_SPI_FILE_NAME)(m), "spi_xc6slx45.bit");

    cable().lock_requests.clear();
    EXPECT_EQ(call(5), JTAG_UNSUPPORTED);
    EXPECT_FALSE(chain_is_locked(chain));
    EXPECT_EQ(call(DEVALG_SPI_TXRX), JTAG_UNSUPPORTED) << "needs more than the binding";
    EXPECT_EQ(call(DEVALG_CANCEL), JTAG_OK);
    EXPECT_EQ(cable().lock_requests, (std::vector<int>{1, 0}));

    chain_lock(chain);
    cable().lock_requests.clear();
    EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_LOCKED);
    EXPECT_TRUE(cable().lock_requests.empty()) << "nothing called";
    module_.reset();
    EXPECT_EQ(printed(), "Fatal error: Chain is locked . Do not delete device!\n");
    chain_unlock(chain);
}

TEST_F(DevalgBindTest, DevicesWithoutAModule) {
    Chain* chain = detected({"XC7A35T"});
    Device* device = chain_get_device(chain, 0);
    EXPECT_EQ(devalg_bind_device(chain, 0), nullptr);
    EXPECT_EQ(printed(), "") << "no rule matches: silent";
    ASSERT_EQ(device_set_idcode(device, 0x06C00093), 1);
    EXPECT_EQ(devalg_bind_device(chain, 0), nullptr);
    EXPECT_EQ(printed(), "No device infomation is found\n");

    // A Spartan-6 IDCODE outside the device table binds without state; entries answer 2.
    printed().clear();
    ASSERT_EQ(device_set_idcode(device, 0x04005093), 1);
    DevAlgModule* m = bind(chain, 0, "x.bit");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->state, nullptr);
    EXPECT_EQ(printed(), "不明なデバイス\nSome error has occured in initialization of device \n");
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_NULL);

    // The 7-series open names the full IDCODE on standard output.
    ASSERT_EQ(device_set_idcode(device, 0x23636093), 1);
    testing::internal::CaptureStdout();
    m = bind(chain, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "idcode=23636093\n");
    EXPECT_STREQ(devalg_entry<DevAlgNameFn>(m, DEVALG_SPI_FILE_NAME)(m), "spi_xc7a200t.bit");
}

TEST_F(DevalgBindTest, UnselectedDeviceIsLeftAlone) {
    DevAlgModule* m = bind({"XC7A100T"}, 0, bit_file("XC7A100T"));
    m->devopt->selected = 0;
    const int64_t transfers = cable().transfers;
    uint8_t buffer[16] = {};
    EXPECT_EQ(call(DEVALG_WRITE), JTAG_FAIL);
    EXPECT_EQ(call(DEVALG_SHUTDOWN), JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgSetupFn>(m, DEVALG_SPI_SETUP)(m, 0), JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgTxrxFn>(m, DEVALG_SPI_TXRX)(m, buffer, buffer, 1, 1, 0),
              JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgDescrFn>(m, DEVALG_SPI_DESCR)(m, 16, buffer), JTAG_FAIL);
    EXPECT_EQ(cable().transfers, transfers);
    EXPECT_EQ(stored_status(), JTAG_OK) << "0 is not stored";
}

TEST_F(DevalgBindTest, DevoptReleasesTheBindingWithItsState) {
    Chain* chain = detected({"XC7S50"});
    Devopt* devopt = device_devopt(chain_get_device(chain, 0));
    devopt->algorithm = devalg_bind_device(chain, 0);
    devopt->algorithm_release = devalg_close;
    ASSERT_TRUE(devopt->algorithm && devopt->algorithm->state);
    chain_.reset();  // the sanitizer build sees any state left behind
}

}  // namespace
}  // namespace vireo::test
