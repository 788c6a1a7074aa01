// The FX3 USB component: the one FX3 device of the process, reached through libusb on real boards
// or through the virtual board a front end installed (cables/usb_virtual.h). Every user opens it,
// exchanges bulk transfers and closes it; a boot-loader device can be given a firmware image
// instead. An open closes the device opened before, so a user that shares the process with others
// opens with fx3_open_tracked, keeps the generation it gives and closes with fx3_release: only the
// holder of the current open closes it.
#pragma once

#include <cstdint>

// Opens the index-th supported device (2129:0640, 2129:0520, or an FX3 boot loader 04B4:00F0 to
// 00F3), closing any device opened before. Fills the ids and the product text (cut to size, always
// terminated). Non-zero when a device was opened.
int fx3_open(int index, uint16_t* vid, uint16_t* pid, char* text, int size);
// The same, and when a device was opened, the open's generation in *generation: a positive number
// that differs from the one of the open before (0 when nothing was opened).
int fx3_open_tracked(int index, uint16_t* vid, uint16_t* pid, char* text, int size,
                     int* generation);
// Closes the open device, if any. Returns 1.
int fx3_close();
// Closes the open device if `generation` opened it; a later open by someone else stays open. 1 when
// it closed the device, 0 otherwise.
int fx3_release(int generation);
// 1 while the device `generation` opened is the open one, 0 once it has been closed or replaced.
int fx3_holds(int generation);
// Loads the .img firmware at path into the open boot-loader device and starts it; the device
// then leaves the bus and comes back with the firmware's ids. Zero on failure, with the reason in
// error (cut to size, always terminated).
int fx3_download(const char* path, char* error, int size);
// Bulk OUT on endpoint 2, 1 to 32768 bytes: the byte count, negative on failure or time-out.
int fx3_write(int endpoint, const uint8_t* data, int length);
// Bulk IN on endpoint 0x82: the bytes received, zero or negative on failure or time-out.
int fx3_read(int endpoint, uint8_t* data, int max);
