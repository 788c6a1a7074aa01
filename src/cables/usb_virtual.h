// The virtual board behind both USB platform layers: the FX3 component and the device-object
// layer. A front end that was asked for a virtual board (vireo --sim, the window, the XVC server)
// builds it and installs it here before anything opens a cable; without that, both layers use
// libusb. Nothing in the drivers or the command logic looks a board up.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cables/devobj_backend.h"
#include "cables/fx3_backend.h"
#include "cables/usb_boards.h"
#include "sim/usb2_firmware.h"
#include "sim/virtual_board.h"

// Puts `board` behind both layers for every open from now on; a null board restores libusb.
// Devices opened on the board installed before stop answering, as a cable pulled out does: their
// transfers fail, and the board they share stays alive until the last of them is closed.
void usb_use_virtual_board(std::shared_ptr<vireo::sim::VirtualBoard> board);

// What a front end does for its --sim option or the VIREO_SIM variable, whose texts it hands in
// (null: not given; the option wins over the variable): builds that board, attaches its state
// folder and installs it as above. Neither given: nothing to do, true. False, with a one-line
// reason in *error named after the option or the variable, for a text that names no board or
// a state folder that cannot be used: such a text must never fall back to the USB boards.
// *unavailable tells the second case (a board that exists but cannot be had now: another
// process holds it, its state is unreadable) from the first; on_wait runs once when another
// process holds the board, before the wait for it.
bool usb_choose_virtual_board(const std::string* option_text, const char* variable_text,
                              std::shared_ptr<vireo::sim::VirtualBoard>* chosen, std::string* error,
                              bool* unavailable = nullptr,
                              const std::function<void()>& on_wait = {});

// What a front end offers to choose from: with a virtual board installed, that board alone (place
// "virtual", its preset name as the product); otherwise the USB boards and cables, as
// usb_list_boards lists them and with its result.
int usb_list_present_boards(std::vector<BoardEntry>* boards);

// Whether a device on the board is still plugged in; null: always (only the board's own unplug
// pulls it out).
using VirtualPlug = std::shared_ptr<const std::atomic<bool>>;

// The FX3 component's back-end on a board: its JTAG firmware model on a board preset, its boot
// loader on a boot-loader preset. Tests put it behind a recording layer through
// fx3_set_backend_factory.
std::unique_ptr<Fx3Backend> fx3_virtual_backend(std::shared_ptr<vireo::sim::VirtualBoard> board,
                                                VirtualPlug plug = {});

// The device object named `name` on a board that is a USB 2.0 board or cable: "\\.\XrCam-0" is
// the board, every other name finds no device (null), as does an unplugged board. With
// `pose_as`, its firmware answers with that identity instead of the board's.
std::unique_ptr<DevobjDevice> devobj_virtual_open(std::shared_ptr<vireo::sim::VirtualBoard> board,
                                                  const std::string& name,
                                                  const vireo::sim::Usb2Identity* pose_as = nullptr,
                                                  VirtualPlug plug = {});
