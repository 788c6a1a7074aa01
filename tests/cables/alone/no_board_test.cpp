// The USB layers as the product links them, without the virtual board: this program links
// vireo_usb and not vireo_sim, so a call into the board from the drivers or either platform layer
// would leave it unlinkable. Without a board handed in, every open goes to libusb, whatever
// VIREO_SIM says; no board of ours is plugged into the test machine, so nothing is found.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "cables/cable.h"
#include "cables/devobj.h"
#include "cables/fx3.h"
#include "cables/skprb.h"
#include "cables/usb_drivers.h"

namespace {

class NoBoard : public ::testing::Test {
  protected:
    // A board named in the environment must not reach any layer.
    void SetUp() override { ASSERT_EQ(setenv("VIREO_SIM", "kb2203", 1), 0); }
    void TearDown() override { unsetenv("VIREO_SIM"); }
};

TEST_F(NoBoard, EveryLayerGoesToLibusbAndFindsNothing) {
    cables_register_usb_drivers();
    for (const char* driver : {"skprb", "kprbemb"}) {
        Cable* cable = cable_new("", driver, "");
        EXPECT_EQ(cable, nullptr) << driver;
        if (cable) cable_free(cable);
    }
    uint16_t vid = 0, pid = 0;
    char text[64] = "untouched";
    EXPECT_EQ(fx3_open(0, &vid, &pid, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(fx3_release(1), 0) << "nothing open to close";
    EXPECT_EQ(fx3_holds(0), 0);
    EXPECT_EQ(devobj_open("\\\\.\\XrCam-0"), DEVOBJ_INVALID);
}

TEST_F(NoBoard, TheSharedLibraryHasOnlyLibusb) {
    void* library = dlopen("./libvireo_skprb.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    auto open = reinterpret_cast<decltype(&skprb_open)>(dlsym(library, "skprb_open"));
    ASSERT_TRUE(open);
    SkprbCable cable{reinterpret_cast<void*>(1), 1};
    EXPECT_EQ(open(&cable, ""), nullptr);
    EXPECT_EQ(cable.state, nullptr);
    dlclose(library);
}

}  // namespace
