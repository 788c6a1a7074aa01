// A module library built for another interface version: its version entry answers 0xC198, and
// its open entry must never run.
#include <cstdlib>

#include "jtag/devalg.h"

namespace {

int old_version(DevAlgModule*) {
    return 0xC198;
}
void* never_open(DevAlgModule*) {
    std::abort();
}

const DevAlgEntry kEntries[] = {
    {"", reinterpret_cast<DevAlgFunction>(&old_version), DEVALG_VERSION},
    {"", reinterpret_cast<DevAlgFunction>(&never_open), DEVALG_OPEN},
    {nullptr, nullptr, 0},
};

}  // namespace

extern "C" const DevAlgEntry* _jtag_devalg_entries(void) {
    return kEntries;
}
