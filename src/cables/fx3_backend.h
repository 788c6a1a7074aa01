// Inside the FX3 component: what a back-end provides, the built-in libusb one, and the seam
// through which another is put in its place (the virtual board's, cables/usb_virtual.h; a
// recording or scripted one in tests).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr int kFx3OutEndpoint = 0x02;
constexpr int kFx3InEndpoint = 0x82;
constexpr int kFx3MaxTransfer = 32768;
// Bulk OUT transfers in flight at once: writes return once queued, in order. A read does not
// wait for them: a board that holds only a few replies takes no more writes until it can hand
// its replies on, and a long capture keeps several batches on their way.
constexpr size_t kFx3WriteWindow = 8;

class Fx3Backend {
  public:
    virtual ~Fx3Backend() = default;
    // Finds and opens the index-th supported device.
    virtual bool open(int index, uint16_t* vid, uint16_t* pid, std::string* description) = 0;
    // Queues a bulk OUT transfer (at most kFx3WriteWindow in flight): the length, or -1 when it,
    // or any transfer queued before it, failed.
    virtual int write(const uint8_t* data, int length) = 0;
    // A bulk IN transfer, waiting for no queued write: the bytes received, -1 on failure (also
    // of a queued write that has ended by then).
    virtual int read(uint8_t* data, int max) = 0;
    // The file's bytes, not yet checked.
    virtual bool download(const std::vector<uint8_t>& image, std::string* error) = 0;
};

std::unique_ptr<Fx3Backend> fx3_libusb_backend();

// The back-end every later open uses; an empty factory restores libusb. Devices opened before
// keep theirs.
using Fx3BackendFactory = std::function<std::unique_ptr<Fx3Backend>()>;
void fx3_set_backend_factory(Fx3BackendFactory factory);
// Whether later opens use libusb, the boards on the USB buses: false while another back-end is
// in place (the virtual board a front end installed, a test's). The SPI flash commands then
// take the virtual board's bridge stand-ins instead of bridges for real FPGAs.
bool fx3_backend_is_libusb();
