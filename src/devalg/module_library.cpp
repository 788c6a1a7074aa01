// A family module as a library of its own (vireo_devalg_spartan6.so, vireo_devalg_series7.so),
// bound by name with devalg_bind_library: its entry table and its release. The build names the
// family's table function in VIREO_DEVALG_FAMILY_ENTRIES.
#include "devalg/series7.h"
#include "devalg/spartan6.h"

extern "C" const DevAlgEntry* _jtag_devalg_entries(void) {
    return VIREO_DEVALG_FAMILY_ENTRIES();
}

// The module's state goes with its close entry, which devalg_close calls; nothing else is held.
extern "C" void _jtag_devalg_close(DevAlgModule*) {}
