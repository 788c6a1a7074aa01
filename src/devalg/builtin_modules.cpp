#include "devalg/builtin_modules.h"

#include "devalg/series7.h"
#include "devalg/spartan6.h"
#include "jtag/devalg.h"

void devalg_register_builtin_modules() {
    devalg_register_family(DEVALG_SPARTAN6, spartan6_entries());
    devalg_register_family(DEVALG_SERIES7, series7_entries());
}
