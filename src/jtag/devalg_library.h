// Device-algorithm modules from a library of their own, bound by the library's name. Such a
// library exports two functions with C linkage: `_jtag_devalg_entries`, which returns its entry
// table (the same table a built-in module registers), and `_jtag_devalg_close`, which
// devalg_close calls with the binding before it unloads the library. The library takes the
// chain core's functions from the program that loads it, so that program exports them.
#pragma once

#include "jtag/devalg.h"

// Loads `library` (a file name as dlopen takes it) and binds its module to the device at index:
// version check and the module's open entry, as for a built-in module. Null with a message when
// the library cannot be loaded, has no entry table or answers another version; the library is
// unloaded again then.
DevAlgModule* devalg_bind_library(Chain* chain, int index, const char* library);
