#include <cstring>

#include "devalg_fixture.h"
#include "jtag/opflag.h"
#include "jtag/status.h"

namespace vireo::test {
namespace {

using DevalgBindTest = DevalgTest;

TEST_F(DevalgBindTest, FamilyRulesMaskTheVersionNibble) {
    EXPECT_EQ(devalg_family(0x54002093), DEVALG_SPARTAN6);
    EXPECT_EQ(devalg_family(0x0403D093), DEVALG_SPARTAN6);
    EXPECT_EQ(devalg_family(0x13631093), DEVALG_SERIES7);
    EXPECT_EQ(devalg_family(0x03636093), DEVALG_SERIES7);
    EXPECT_EQ(devalg_family(0x0362D093), 0) << "XC7A35T: no rule";
    EXPECT_EQ(devalg_family(0x4BA00477), 0) << "ARM DAP";
    EXPECT_EQ(devalg_family(0x06C00093), 12);
    EXPECT_EQ(devalg_family(0x123400DD), 21);
}

TEST_F(DevalgBindTest, BoundModuleEntriesAndCalls) {
    Chain* chain = detected({"ARM_DAP", "XC6SLX45"});
    ASSERT_EQ(device_set_idcode(chain_get_device(chain, 1), 0x34008093), 1) << "revision 3";
    EXPECT_EQ(jtag_bind_algorithm(chain, 0), nullptr) << "the DAP has no module";
    BindingPtr module(jtag_bind_algorithm(chain, 1));
    ASSERT_TRUE(module);
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(module->count, 10);
    EXPECT_EQ(module->entries.size(), 11u);
    EXPECT_EQ(module->entries.back(), nullptr);
    EXPECT_EQ(module->index, 1);
    EXPECT_EQ(module->device, chain_get_device(chain, 1));
    EXPECT_EQ(module->devopt, device_devopt(module->device));

    EXPECT_EQ(devalg_find_by_name(module.get(), "spitxrx"), devalg_find(module.get(), DEVALG_SPI_TXRX));
    EXPECT_EQ(devalg_find_by_name(module.get(), "Flash"), nullptr);
    EXPECT_STREQ(devalg_entry<DevAlgNameFn>(module.get(), DEVALG_SPI_FILE_NAME)(module.get()),
                 "spi_xc6slx45.bit");

    cable_state().lock_requests.clear();
    EXPECT_EQ(devalg_call(module.get(), 5), JTAG_UNSUPPORTED);
    EXPECT_FALSE(chain_is_locked(chain));
    EXPECT_EQ(devalg_call(module.get(), DEVALG_SPI_TXRX), JTAG_UNSUPPORTED)
        << "entries with more arguments are not called through devalg_call";
    EXPECT_EQ(devalg_call(module.get(), DEVALG_CANCEL), JTAG_OK);
    EXPECT_EQ(cable_state().lock_requests, (std::vector<int>{1, 0}));

    chain_lock(chain);
    cable_state().lock_requests.clear();
    EXPECT_EQ(devalg_call(module.get(), DEVALG_SHUTDOWN), JTAG_LOCKED);
    EXPECT_TRUE(cable_state().lock_requests.empty()) << "nothing called";
    devalg_close(module.release());
    EXPECT_EQ(printed(), "Fatal error: Chain is locked . Do not delete device!\n");
    chain_unlock(chain);
    EXPECT_EQ(devalg_call(nullptr, DEVALG_WRITE), JTAG_NULL);
}

TEST_F(DevalgBindTest, DevicesWithoutAModule) {
    Chain* chain = detected({"XC7A35T"});
    EXPECT_EQ(devalg_bind_device(chain, 0), nullptr);
    EXPECT_EQ(printed(), "") << "no rule: silent";

    Device* device = chain_get_device(chain, 0);
    ASSERT_EQ(device_set_idcode(device, 0x06C00093), 1);
    EXPECT_EQ(devalg_bind_device(chain, 0), nullptr);
    EXPECT_EQ(printed(), "No device infomation is found\n");

    // A Spartan-6 IDCODE outside the device table binds without state; its entries answer 2.
    printed().clear();
    ASSERT_EQ(device_set_idcode(device, 0x04005093), 1);
    BindingPtr module = bind(chain, 0, "x.bit");
    ASSERT_TRUE(module);
    EXPECT_EQ(module->state, nullptr);
    EXPECT_EQ(printed(), "不明なデバイス\nSome error has occured in initialization of device \n");
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_NULL);
    EXPECT_EQ(devalg_entry<DevAlgNameFn>(module.get(), DEVALG_SPI_FILE_NAME)(module.get()), nullptr);

    // The 7-series open names the IDCODE on standard output.
    ASSERT_EQ(device_set_idcode(device, 0x23636093), 1);
    testing::internal::CaptureStdout();
    BindingPtr series7(devalg_bind_device(chain, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "idcode=23636093\n");
    ASSERT_TRUE(series7 && series7->state);
    EXPECT_STREQ(devalg_entry<DevAlgNameFn>(series7.get(), DEVALG_SPI_FILE_NAME)(series7.get()),
                 "spi_xc7a200t.bit");
}

TEST_F(DevalgBindTest, UnselectedDeviceIsLeftAlone) {
    Chain* chain = detected({"XC7A100T"});
    BindingPtr module = bind(chain, 0, bit_file("XC7A100T"));
    module->devopt->selected = 0;
    const int64_t transfers = cable_state().transfers;
    uint8_t buffer[16] = {};
    EXPECT_EQ(devalg_call(module.get(), DEVALG_WRITE), JTAG_FAIL);
    EXPECT_EQ(devalg_call(module.get(), DEVALG_SHUTDOWN), JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgSetupFn>(module.get(), DEVALG_SPI_SETUP)(module.get(), 0), JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgTxrxFn>(module.get(), DEVALG_SPI_TXRX)(module.get(), buffer, buffer,
                                                                        1, 1, 0),
              JTAG_FAIL);
    EXPECT_EQ(devalg_entry<DevAlgDescrFn>(module.get(), DEVALG_SPI_DESCR)(module.get(), 16, buffer),
              JTAG_FAIL);
    EXPECT_EQ(cable_state().transfers, transfers);
    EXPECT_EQ(module->devopt->status, JTAG_OK) << "0 is not stored";
}

TEST_F(DevalgBindTest, DevoptReleasesTheBindingAndItsState) {
    Chain* chain = detected({"XC7S50"});
    Devopt* devopt = device_devopt(chain_get_device(chain, 0));
    devopt->algorithm = devalg_bind_device(chain, 0);
    devopt->algorithm_release = devalg_close;
    ASSERT_TRUE(devopt->algorithm && devopt->algorithm->state);
    // Deleting the chain deletes the device, whose devopt releases the binding; the sanitizer
    // build sees any state left behind.
    chain_.reset();
    EXPECT_EQ(printed(), "");
}

}  // namespace
}  // namespace vireo::test
