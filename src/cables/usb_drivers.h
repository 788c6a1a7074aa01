// The USB cable drivers built into the program, registered with the cable layer.
#pragma once

// Registers "kprbemb" (USB 2.0 cables and boards) and "skprb" (FX3 USB 3.0 boards). Called once
// by the application at start-up (and by tests that open cables by name); repeating it is harmless.
void cables_register_usb_drivers();
