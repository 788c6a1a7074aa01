// Inside the device-object layer: what a back-end provides, the two built-in back-ends, and the
// seam tests use to put their own back-end in front of them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/usb2_firmware.h"

// One opened device object. Handlers report failure with false and leave *returned alone.
class DevobjDevice {
  public:
    virtual ~DevobjDevice() = default;
    virtual bool write(uint32_t pipe, const uint8_t* data, uint32_t size, uint32_t* returned) = 0;
    virtual bool read(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t* returned) = 0;
    virtual bool string_descriptor(uint8_t index, uint16_t language, uint8_t* data, uint32_t size,
                                   uint32_t* returned) = 0;
};

using DevobjOpener = std::function<std::unique_ptr<DevobjDevice>(const std::string& name)>;

// Replaces the back-end choice of devobj_open; an empty function restores it.
void devobj_set_backend(DevobjOpener opener);

// The n-th USB 2.0 cable or board (usb_ids.h) through libusb; null when absent or not openable.
std::unique_ptr<DevobjDevice> devobj_libusb_open(const std::string& name);
// The process's virtual board, when it is a USB 2.0 board or cable and the name is its name.
// With `pose_as`, its firmware answers with that identity instead of the board's.
std::unique_ptr<DevobjDevice> devobj_virtual_open(
    const std::string& name, const vireo::sim::Usb2Identity* pose_as = nullptr);

// Index of "\\.\XrCam-%d" / "\\.\nvsp6-%d" (0..9); -1 for any other name. *family is 0 or 1.
int devobj_name_index(const std::string& name, int* family);
