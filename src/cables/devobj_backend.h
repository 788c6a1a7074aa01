// Inside the device-object layer: what a back-end provides, the built-in libusb one, and the
// seam through which another is put in its place (the virtual board's, cables/usb_virtual.h;
// a recording one in tests).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

// Bulk OUT transfers on the stream pipe in flight at once: a stream write returns once queued,
// and every other transfer but the posting and collecting of reads first waits for them, so the
// firmware sees the same transfers in the same order. A failure among them fails the call that
// finds it.
constexpr size_t kDevobjStreamWindow = 8;

// One opened device object. Handlers report failure with false and leave *returned alone.
class DevobjDevice {
  public:
    virtual ~DevobjDevice() = default;
    virtual bool write(uint32_t pipe, const uint8_t* data, uint32_t size, uint32_t* returned) = 0;
    virtual bool read(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t* returned) = 0;
    // `count` reads of up to `size` bytes each on one pipe, submitted together: the bus serves
    // them back to back and the host waits once for the group. Their bytes land back to back in
    // data (room for count * size), *returned their total. False when any of them fails. This
    // one reads them one after the other.
    virtual bool read_many(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t count,
                           uint32_t* returned);
    // Reads posted now and collected later, oldest group first, as devobj_post_reads and
    // devobj_collect_reads; collect_reads fails for a group other than the oldest. These post
    // nothing: the group is read at its collect, a lone read with read, more with read_many.
    virtual bool post_reads(uint32_t pipe, uint32_t size, uint32_t count);
    virtual bool collect_reads(uint32_t pipe, uint8_t* data, uint32_t size, uint32_t count,
                               uint32_t* returned);
    virtual bool string_descriptor(uint8_t index, uint16_t language, uint8_t* data, uint32_t size,
                                   uint32_t* returned) = 0;

  private:
    struct PostedReads {
        uint32_t pipe, size, count;
        bool operator==(const PostedReads&) const = default;
    };
    std::deque<PostedReads> posted_;
};

using DevobjOpener = std::function<std::unique_ptr<DevobjDevice>(const std::string& name)>;

// The opener every later devobj_open uses; an empty function restores libusb. Handles opened
// before keep their devices.
void devobj_set_backend(DevobjOpener opener);

// The n-th USB 2.0 cable or board (usb_ids.h) through libusb; null when absent or not openable.
std::unique_ptr<DevobjDevice> devobj_libusb_open(const std::string& name);

// Index of "\\.\XrCam-%d" / "\\.\nvsp6-%d" (0..9); -1 for any other name. *family is 0 or 1.
int devobj_name_index(const std::string& name, int* family);
