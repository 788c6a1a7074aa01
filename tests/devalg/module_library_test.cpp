// Family modules bound from libraries of their own by name: refused when the library is missing,
// has no entry table or answers another version; found, each configures its FPGA with its own
// code through this program's chain, and goes with its binding.
#include <dlfcn.h>

#include "devalg_fixture.h"
#include "jtag/devalg_library.h"

namespace vireo::test {
namespace {

using Binding = std::unique_ptr<DevAlgModule, BindingClose>;

TEST_F(DevalgTest, LibraryModulesAreRefusedWhenMissingWithoutATableOrOfAnotherVersion) {
    Chain* chain = detected({"XC7A100T"});
    printed().clear();
    EXPECT_EQ(devalg_bind_library(chain, 0, "/nonexistent/vireo_devalg_series7.so"), nullptr);
    EXPECT_TRUE(printed().starts_with(
        "DEVALG library /nonexistent/vireo_devalg_series7.so cannot be loaded: "))
        << printed();
    printed().clear();
    EXPECT_EQ(devalg_bind_library(chain, 0, "libz.so.1"), nullptr);
    EXPECT_EQ(printed(), "DEVALG library libz.so.1 has no module table.\n");
    printed().clear();
    EXPECT_EQ(devalg_bind_library(chain, 0, VIREO_OLD_MODULE), nullptr);
    EXPECT_EQ(printed(), "DEVALG version mismatch! Please reinstall software.\n");
    void* still = dlopen(VIREO_OLD_MODULE, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr) << "a refused library is unloaded";
    if (still) dlclose(still);
}

TEST_F(DevalgTest, LibraryModulesConfigureWithTheirOwnCode) {
    for (const auto& [part, library] : {std::pair{"XC6SLX16", VIREO_SPARTAN6_MODULE},
                                        std::pair{"XC7A100T", VIREO_SERIES7_MODULE}}) {
        SCOPED_TRACE(part);
        Chain* chain = detected({part});
        DevAlgModule* built_in =
            bind(chain, 0, bit_file(part));  // selects the device, names the file
        ASSERT_TRUE(built_in);
        Binding m(devalg_bind_library(chain, 0, library));
        ASSERT_TRUE(m && m->library && m->state) << printed();
        EXPECT_NE(devalg_find(m.get(), DEVALG_WRITE), devalg_find(built_in, DEVALG_WRITE))
            << "the library's own entry, not the program's";
        EXPECT_EQ(devalg_call(m.get(), DEVALG_WRITE), JTAG_OK) << printed();
        EXPECT_TRUE(fpga()->engine().done());
        EXPECT_EQ(devalg_call(m.get(), DEVALG_SHUTDOWN), JTAG_OK);
        EXPECT_FALSE(fpga()->engine().done());
        module_.reset();  // closed while its chain lives: the next part opens a new chain
    }
}

}  // namespace
}  // namespace vireo::test
