// The emulated-USB tests run under the umockdev preload library. Started without it, the
// program starts itself again with it (and tells AddressSanitizer that its runtime need not come
// first); where even that cannot work, the tests skip, except under CI, where they fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/emulated_usb.h"

extern "C" const char* __lsan_default_suppressions();

// GLib and umockdev keep type data and their worker thread's state until the process ends.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\nleak:libumockdev\n";
}

int main(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (!(preload && std::strstr(preload, "libumockdev-preload")) &&
        !std::getenv("VIREO_USB_REEXEC")) {
        const std::string with = std::string("libumockdev-preload.so.0") +
                                 (preload && *preload ? std::string(":") + preload : "");
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string asan_options =
            std::string(asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
        setenv("LD_PRELOAD", with.c_str(), 1);
        setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
        setenv("VIREO_USB_REEXEC", "1", 1);
        execv("/proc/self/exe", argv);  // returns only when it could not start
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
