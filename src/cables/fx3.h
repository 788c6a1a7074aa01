// The FX3 USB component: the one FX3 device of the process, reached through libusb on real boards
// or through the virtual board when VIREO_SIM names one. Every user opens it, exchanges bulk
// transfers and closes it; a boot-loader device can be given a firmware image instead.
#pragma once

#include <cstdint>

// Opens the index-th supported device (2129:0640, 2129:0520, or an FX3 boot loader 04B4:00F0 to
// 00F3), closing any device opened before. Fills the ids and the product text (cut to size, always
// terminated). Non-zero when a device was opened.
int fx3_open(int index, uint16_t* vid, uint16_t* pid, char* text, int size);
// Closes the open device, if any. Returns 1.
int fx3_close();
// Loads the .img firmware at path into the open boot-loader device and starts it; the device
// then leaves the bus and comes back with the firmware's ids. Zero on failure, with the reason in
// error (cut to size, always terminated).
int fx3_download(const char* path, char* error, int size);
// Bulk OUT on endpoint 2, 1 to 32768 bytes: the byte count, negative on failure or time-out.
int fx3_write(int endpoint, const uint8_t* data, int length);
// Bulk IN on endpoint 0x82: the bytes received, zero or negative on failure or time-out.
int fx3_read(int endpoint, uint8_t* data, int max);
