// Device-algorithm module of the Spartan-6 (XC6SLX) family.
#pragma once

#include "jtag/devalg.h"

// The module's entry table, ended by an entry with a null name.
const DevAlgEntry* spartan6_entries();
