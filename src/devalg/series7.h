// Device-algorithm module of the 7-series parts: XC7S50, XC7A100T, XC7A200T, XC7K160T, XC7Z020.
#pragma once

#include "jtag/devalg.h"

// The module's entry table, ended by an entry with a null name.
const DevAlgEntry* series7_entries();
