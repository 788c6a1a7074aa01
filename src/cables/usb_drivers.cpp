#include "cables/usb_drivers.h"

#include "cables/cable.h"
#include "cables/kprbemb.h"
#include "cables/skprb.h"

void cables_register_usb_drivers() {
    cable_register_driver("skprb", skprb_driver);
    cable_register_driver("kprbemb", kprbemb_driver);
}
