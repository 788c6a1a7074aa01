// Ranges of the flash: their checks, and the erase of a range (the sectors that cover it, their
// bytes outside the range kept, the range blank-checked afterwards).
#include "spirom/spirom_range.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "jtag/lang.h"
#include "jtag/status.h"
#include "spirom/spirom_host.h"
#include "spirom/spirom_ops.h"

using spirom_io::ByteRange;
using spirom_io::FlashIo;
using spirom_io::Group;

namespace {

// "16 MB (0x1000000 bytes)", or the bytes alone when they are no whole number of megabytes.
std::string size_text(int64_t bytes) {
    char text[64];
    if (bytes >= (1 << 20) && bytes % (1 << 20) == 0) {
        std::snprintf(text, sizeof text, "%lld MB (0x%llX bytes)",
                      static_cast<long long>(bytes >> 20), static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof text, "%lld bytes (0x%llX)", static_cast<long long>(bytes),
                      static_cast<unsigned long long>(bytes));
    }
    return text;
}

}  // namespace

namespace spirom_io {

void log_flash_extent(const Geometry& geo) {
    const int last_page = geo.page_count - 1;
    const uint32_t last = geo.page_address(last_page) + static_cast<uint32_t>(geo.page_size) - 1;
    if (geo.page_size == (1 << geo.shift)) {
        spirom_log("The flash holds %s: addresses 0 to 0x%X.", size_text(geo.flash_bytes()).c_str(),
                   last);
    } else {
        // AT45 pages of 528 bytes: each page starts at a multiple of the next power of two.
        spirom_log(
            "The flash holds %s in %d pages of %d bytes: page p starts at address p x 0x%X, "
            "its bytes follow it; the last byte is at 0x%X.",
            size_text(geo.flash_bytes()).c_str(), geo.page_count, geo.page_size, 1u << geo.shift,
            last);
    }
}

int resolve_range(const Geometry& geo, uint32_t offset, int64_t count, ByteRange* range) {
    if (offset >= geo.address_end() || geo.page_of(offset) >= geo.page_count) {
        spirom_log(tr_ja("オフセット 0x%X はROMの範囲外です"), offset);
        log_flash_extent(geo);
        return JTAG_ADDRESS_OVERFLOW;
    }
    const uint32_t byte = offset & ((1u << geo.shift) - 1);
    if (byte >= static_cast<uint32_t>(geo.page_size)) {
        spirom_log("0x%X is no byte of the flash: it lies behind the end of page %d.", offset,
                   geo.page_of(offset));
        log_flash_extent(geo);
        return JTAG_ADDRESS_OVERFLOW;
    }
    const int64_t begin = int64_t{geo.page_of(offset)} * geo.page_size + byte;
    const int64_t end = count < 0 ? geo.flash_bytes() : begin + count;
    if (end > geo.flash_bytes()) {
        spirom_log("0x%llX bytes from 0x%X run 0x%llX bytes past the end of the flash.",
                   static_cast<unsigned long long>(count), offset,
                   static_cast<unsigned long long>(end - geo.flash_bytes()));
        log_flash_extent(geo);
        return JTAG_ADDRESS_OVERFLOW;
    }
    *range = {begin, end};
    return JTAG_OK;
}

}  // namespace spirom_io

int spirom_check_range(uint32_t offset, int64_t count) {
    const int64_t largest = spirom_io::kLargestFlash.address_end();
    const int64_t end = int64_t{offset} + std::max<int64_t>(count, 1);
    if (end <= largest) return JTAG_OK;
    // The largest flash, as log_flash_extent says it.
    char last[24];
    std::snprintf(last, sizeof last, "0x%llX", static_cast<unsigned long long>(largest - 1));
    const std::string largest_text =
        "the largest holds " + size_text(largest) + ": addresses 0 to " + last;
    if (count < 0) {
        spirom_log("0x%X lies past the end of every flash: %s.", offset, largest_text.c_str());
    } else {
        spirom_log("0x%llX bytes from 0x%X run past the end of every flash: %s.",
                   static_cast<unsigned long long>(count), offset, largest_text.c_str());
    }
    return JTAG_ADDRESS_OVERFLOW;
}

namespace {

// Reads the pages that hold [range.begin, range.end) and checks that the range is blank; the
// first page that is not is logged with its bytes.
int range_blank(FlashIo& io, const ByteRange& range) {
    const int size = io.page_size();
    const int first = static_cast<int>(range.begin / size);
    const int after = static_cast<int>((range.end + size - 1) / size);
    std::vector<uint8_t> rom;
    for (int from = first; from < after;) {
        if (!spirom_running()) return JTAG_CANCELLED;
        const int count = std::min(after - from, io.read_span(from));
        rom.resize(size_t(count) * size);
        if (const int status = io.read_pages(from, count, rom.data()); status != JTAG_OK)
            return status;
        for (int page = from; page < from + count; ++page) {
            const int64_t base = int64_t{page} * size;
            const int64_t lo = std::max(range.begin, base) - base;
            const int64_t hi = std::min(range.end, base + size) - base;
            const uint8_t* bytes = rom.data() + size_t(page - from) * size;
            if (std::any_of(bytes + lo, bytes + hi, [](uint8_t b) { return b != 0xFF; })) {
                spirom_log(tr_ja("page %d に書き込みデータあり"), page);
                hex_dump_log(bytes, size, io.page_address(page));
                return JTAG_VERIFY;
            }
        }
        from += count;
    }
    return JTAG_OK;
}

}  // namespace

int spirom_erase_range(SpiRomContext* c, uint32_t offset, int64_t count) {
    if (!c) return JTAG_FAIL;
    FlashIo io(c);
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    ByteRange range;
    if (const int status = spirom_io::resolve_range(io.geometry(), offset, count, &range);
        status != JTAG_OK)
        return status;
    const int size = io.page_size();
    const int first = static_cast<int>(range.begin / size);
    const int after = static_cast<int>((range.end + size - 1) / size);
    const uint32_t last_address = io.page_address(static_cast<int>((range.end - 1) / size)) +
                                  static_cast<uint32_t>((range.end - 1) % size);
    spirom_log(
        "Erasing 0x%X-0x%X: the sectors that hold it are erased and their bytes outside "
        "it written back.",
        offset, last_address);
    // The range as an image: erased bytes held from its first byte on, nothing before it.
    SpiRomImage image;
    const int64_t skip = range.begin - int64_t{first} * size;
    image.bytes.assign(size_t(range.end - int64_t{first} * size), 0xFF);
    image.held.assign(image.bytes.size(), 1);
    std::fill_n(image.held.begin(), skip, 0);
    image.end = std::ssize(image.bytes);
    const int per_sector = io.sector_pages();
    const int span_first = first - first % per_sector;
    const int span_after =
        std::min(io.page_count(), (after + per_sector - 1) / per_sector * per_sector);
    if (const int status = spirom_io::rewrite_sectors(io, image, first, "",
                                                      {span_first, span_after - span_first, true});
        status != JTAG_OK)
        return status;
    image = {};
    // The erase is a claim only once the range reads back blank.
    if (const int status = range_blank(io, range); status != JTAG_OK) {
        spirom_log("0x%X-0x%X is not blank after its erase.", offset, last_address);
        return status;
    }
    if (const int status = io.done(); status != JTAG_OK) return status;
    spirom_log("0x%X-0x%X is blank (read back).", offset, last_address);
    spirom_progress(span_after - span_first, span_after - span_first, "");
    return JTAG_OK;
}
