// The configuration modules built into the program, registered with the module binding.
#pragma once

// Registers the Spartan-6 and 7-series modules under their family types. Called once by the
// application at start-up (and by tests that bind modules); calling it again changes nothing.
void devalg_register_builtin_modules();
