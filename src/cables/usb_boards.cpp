#include "cables/usb_boards.h"

#include "cables/usb_ids.h"
#include "cables/usb_libusb.h"

namespace {

bool is_ours(uint16_t vid, uint16_t pid) {
    return is_fx3_device(vid, pid) || is_usb2_cable(vid, pid);
}

}  // namespace

std::string usb_kind_of(uint16_t vid, uint16_t pid) {
    if (is_fx3_board(vid, pid)) return "FX3 board";
    if (is_fx3_boot_loader(vid, pid)) return "FX3 boot loader";
    if (is_usb2_cable(vid, pid)) return "USB 2.0 cable/board";
    return "";
}

int usb_list_boards(std::vector<BoardEntry>* boards) {
    boards->clear();
    std::vector<usb::Listed> devices;
    const int rc = usb::list_devices(is_ours, &devices);
    for (usb::Listed& d : devices) {
        boards->push_back({std::move(d.place_text), d.vid, d.pid, usb_kind_of(d.vid, d.pid),
                           std::move(d.serial), std::move(d.product), false});
    }
    return rc;
}
