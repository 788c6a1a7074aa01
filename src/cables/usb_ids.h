// The USB ids of the maker's cables and boards and of the FX3 boot loader: which device each
// back-end looks for, and what a caller of fx3_open makes of the ids it gets back.
#pragma once

#include <cstdint>

namespace usb_ids {

constexpr uint16_t kMakerVendor = 0x2129;
constexpr uint16_t kKb2203Product = 0x0640;  // Artix-7 board with FX3
constexpr uint16_t kKb2204Product = 0x0520;  // FX3 board
// A Cypress FX3 without firmware enumerates as its boot loader.
constexpr uint16_t kCypressVendor = 0x04B4;
constexpr uint16_t kFx3BootFirstProduct = 0x00F0;
constexpr uint16_t kFx3BootLastProduct = 0x00F3;

}  // namespace usb_ids

// The maker's FX3 boards running their JTAG firmware.
constexpr bool is_fx3_board(uint16_t vid, uint16_t pid) {
    return vid == usb_ids::kMakerVendor &&
           (pid == usb_ids::kKb2203Product || pid == usb_ids::kKb2204Product);
}

constexpr bool is_fx3_boot_loader(uint16_t vid, uint16_t pid) {
    return vid == usb_ids::kCypressVendor && pid >= usb_ids::kFx3BootFirstProduct &&
           pid <= usb_ids::kFx3BootLastProduct;
}

// What the FX3 component opens: a board or a boot loader.
constexpr bool is_fx3_device(uint16_t vid, uint16_t pid) {
    return is_fx3_board(vid, pid) || is_fx3_boot_loader(vid, pid);
}

// The maker's USB 2.0 cables and boards: every product of its vendor id but the FX3 boards.
constexpr bool is_usb2_cable(uint16_t vid, uint16_t pid) {
    return vid == usb_ids::kMakerVendor && !is_fx3_board(vid, pid);
}
