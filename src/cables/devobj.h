// Device objects of the USB 2.0 cables: open by name, bulk transfers and the product string
// through control codes, close. The names, codes and pipes are those the cable's kernel driver
// offers on Windows; here they are served by libusb-1.0 or, once a front end has installed a
// virtual board (cables/usb_virtual.h), by that board alone.
//
// Names: "\\.\XrCam-%d" and "\\.\nvsp6-%d", n = 0..9.
//   libusb:  the maker's USB 2.0 cables and boards (is_usb2_cable, usb_ids.h), in the order the
//            bus lists them; the n-th name of either family is the n-th device.
//   virtual: "\\.\XrCam-0" is the board when it is a USB 2.0 board or cable; every other name
//            finds no device.
// Pipes and the bulk endpoints that carry them:
//   0 command stream  -> EP 0x02 OUT      2 TDO stream   <- EP 0x86 IN
//   4 control request -> EP 0x04 OUT      5 control reply <- EP 0x88 IN
// Every transfer is bounded in time (control pipes 1 s, stream pipes 10 s); a time-out fails.
#pragma once

#include <cstdint>

using DevobjHandle = intptr_t;
constexpr DevobjHandle DEVOBJ_INVALID = -1;

enum DevobjCode : uint32_t {
    DEVOBJ_BULK_WRITE = 0x222051,  // in: u32 pipe; out: the bytes to send
    DEVOBJ_BULK_READ = 0x22204E,   // in: u32 pipe; out: receives up to out_size bytes
    DEVOBJ_STRING = 0x222044,      // in: byte 0 index, bytes 2..3 language (LE); out: descriptor
};

enum DevobjPipe : uint32_t {
    DEVOBJ_PIPE_STREAM_OUT = 0,
    DEVOBJ_PIPE_STREAM_IN = 2,
    DEVOBJ_PIPE_CONTROL_OUT = 4,
    DEVOBJ_PIPE_CONTROL_IN = 5,
};

// A handle, or DEVOBJ_INVALID when the name has no device.
DevobjHandle devobj_open(const char* name);
// 1 on success with *returned = bytes moved (written, read, or descriptor bytes); 0 on failure
// (unknown handle or code, short input, USB error or time-out, cable gone).
int devobj_ioctl(DevobjHandle handle, uint32_t code, const void* in, uint32_t in_size, void* out,
                 uint32_t out_size, uint32_t* returned);
// Reads posted ahead of the stream writes whose replies they take: `count` bulk reads of up to
// `size` bytes each on one IN pipe, submitted now without waiting for anything (queued stream
// writes included). A cable that holds only a few replies stops taking commands while its
// replies find no read; with the reads posted first, every reply it makes finds one. 1 on
// success, 0 on failure as devobj_ioctl. Closing the handle cancels the reads still posted.
int devobj_post_reads(DevobjHandle handle, uint32_t pipe, uint32_t size, uint32_t count);
// The oldest group posted (the same pipe, size and count), waited for without waiting for any
// queued write: their bytes arrive back to back in out (room for count * size), *returned their
// total, short only when a reply came short. 1 on success, 0 on failure as devobj_ioctl (any of
// the reads failing fails the group).
int devobj_collect_reads(DevobjHandle handle, uint32_t pipe, void* out, uint32_t size,
                         uint32_t count, uint32_t* returned);
// 1 when the handle was open, 0 otherwise.
int devobj_close(DevobjHandle handle);
