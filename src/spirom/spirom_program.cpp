// Programming and erasing: sector by sector, each sector's bytes outside the image read before
// its erase and written back after it; every busy wait bounded by the data sheet's maximum.
#include <algorithm>
#include <vector>

#include "jtag/status.h"
#include "spirom/spirom_host.h"
#include "spirom/spirom_io.h"
#include "spirom/spirom_ops.h"

using spirom_io::FlashIo;
using spirom_io::Group;
using spirom_io::kTimedOut;

namespace {

constexpr int kProgressPages = 10;
constexpr int64_t kWordUs = 10;  // SST AAI word program, data-sheet maximum
constexpr spirom_io::BusyLimit kStatusWrite = {1000, 100 * 1000};

bool blank(const uint8_t* data, int count) {
    return std::all_of(data, data + count, [](uint8_t b) { return b == 0xFF; });
}

// One page of data into an erased page (AT45: the page erases itself).
int program_page(FlashIo& io, int page, const uint8_t* data) {
    const uint32_t address = io.page_address(page);
    int status = JTAG_OK;
    switch (io.group()) {
        case Group::At45:
            status = io.addressed(0x82, address, data, io.page_size());
            break;
        case Group::Series25:
        case Group::Winbond:
            status = io.command({0x06});
            if (status == JTAG_OK) status = io.addressed(0x02, address, data, io.page_size());
            break;
        case Group::Sst: {
            // Auto-address-increment words, each given its programming time.
            status = io.command({0x06});
            const uint8_t first[6] = {
                0xAD,   uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address), data[0],
                data[1]};
            for (int k = 0; status == JTAG_OK && k < io.page_size() / 2; ++k) {
                status =
                    k == 0
                        ? io.command({first[0], first[1], first[2], first[3], first[4], first[5]})
                        : io.command({0xAD, data[2 * k], data[2 * k + 1]});
                if (status == JTAG_OK) status = io.idle(kWordUs);
            }
            if (status == JTAG_OK) status = io.command({0x04});
            break;
        }
        case Group::None:
            return JTAG_UNSUPPORTED;
    }
    if (status != JTAG_OK) return status;
    status = io.wait_ready(io.page_limit(), false);
    if (status == kTimedOut) {
        spirom_log("Page %d 書き込み失敗", page);
        return JTAG_FAIL;
    }
    return status;
}

// Unprotects (AT25DQ321) and erases the sector that starts at page; logs the failure.
int erase_sector(FlashIo& io, int page) {
    const uint32_t address = io.page_address(page);
    const bool winbond = io.group() == Group::Winbond;
    if (io.group() == Group::Sst) {
        spirom_log("ブロック %06x-%06xを消去します", address, address + 0xFFFF);
    } else {
        spirom_log("Writing on page %d..", page);
        spirom_log(winbond ? "Erasing block %d" : "Erasing sector %d", page >> 8);
    }
    int status = JTAG_OK;
    // The AT25DQ321 powers up with every sector protected and refuses to erase them.
    if (io.at25dq()) {
        status = io.command({0x06});
        if (status == JTAG_OK) status = io.addressed(0x39, address);
    }
    if (status == JTAG_OK) status = io.command({0x06});
    if (status == JTAG_OK) status = io.addressed(0xD8, address);
    if (status == JTAG_OK) status = io.wait_ready(io.sector_limit(), true);
    // A cancel still lets the erase finish, so that the sector's kept bytes can go back.
    if (status == JTAG_CANCELLED) {
        status = io.wait_ready(io.sector_limit(), false);
        if (status == JTAG_OK) return JTAG_CANCELLED;
    }
    if (status == kTimedOut) {
        spirom_log(winbond ? "ブロック %d 消去失敗" : "セクタ %d 消去失敗", page >> 8);
        return JTAG_FAIL;
    }
    return status;
}

// SST parts power up with every block protected.
int unprotect_sst(FlashIo& io) {
    int status = io.command({0x50});
    if (status == JTAG_OK) status = io.command({0x01, 0x00});
    if (status == JTAG_OK) status = io.wait_ready(kStatusWrite, false);
    return status == kTimedOut ? JTAG_FAIL : status;
}

// Writes the pages first..last of one sector from `sector` (its data, page by page, from the
// sector's first page). Pages outside [in_first, in_last] are the sector's kept bytes: written
// back even after a cancel, and only when they hold data.
int program_sector(FlashIo& io, int first, int last, int in_first, int in_last,
                   const std::vector<uint8_t>& sector, bool* cancelled) {
    const int size = io.page_size();
    for (int page = first; page <= last; ++page) {
        const uint8_t* data = sector.data() + size_t(page - first) * size;
        const bool kept = page < in_first || page > in_last;
        if (!kept && !*cancelled && !spirom_running()) *cancelled = true;
        if ((!kept && *cancelled) || (kept && blank(data, size))) continue;
        if (const int status = program_page(io, page, data); status != JTAG_OK) return status;
        if (page % kProgressPages == 0) spirom_progress(page, io.page_count(), "");
    }
    return JTAG_OK;
}

}  // namespace

int spirom_program(SpiRomContext* c, const char* path, uint32_t offset) {
    if (!c) return JTAG_FAIL;
    FlashIo io(c);
    std::vector<uint8_t> image;
    int64_t length = 0;
    if (const int status = spirom_io::load_image(io, c, path, offset, &image, &length);
        status != JTAG_OK)
        return status;
    spirom_log("Data arrayにファイル%sを書き込みます", path);
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    if (io.group() == Group::Sst) {
        if (const int status = unprotect_sst(io); status != JTAG_OK) return status;
    }
    const int size = io.page_size();
    const int first = io.page_of(offset);
    const int last = first + static_cast<int>((length + size - 1) / size) - 1;
    const int per_sector = io.sector_pages();
    bool cancelled = false;
    for (int start = first - first % per_sector; length > 0 && start <= last && !cancelled;
         start += per_sector) {
        if (!spirom_running()) {
            cancelled = true;
            break;
        }
        const int end = std::min(start + per_sector, io.page_count()) - 1;
        // The sector as it must read afterwards: the image's pages, the rest from the flash.
        std::vector<uint8_t> sector(size_t(end - start + 1) * size, 0xFF);
        for (int page = start; page <= end; ++page) {
            uint8_t* at = sector.data() + size_t(page - start) * size;
            const int64_t pos = int64_t(page - first) * size;
            const bool inside = page >= first && page <= last;
            const bool partial = page == last && pos + size > length;
            if (!inside || partial) {
                if (const int status = io.read(io.page_address(page), at, size); status != JTAG_OK)
                    return status;
            }
            if (inside) std::copy_n(image.begin() + pos, std::min<int64_t>(size, length - pos), at);
        }
        if (io.sector_pages() > 1) {
            const int status = erase_sector(io, start);
            cancelled = status == JTAG_CANCELLED;
            if (status != JTAG_OK && !cancelled) return status;
        }
        if (const int status = program_sector(io, start, end, first, last, sector, &cancelled);
            status != JTAG_OK)
            return status;
    }
    if (cancelled) {
        spirom_log("書き込みを中止しました");
        return JTAG_CANCELLED;
    }
    if (length > 0)
        spirom_log("Page %dの中(%dバイト目)でファイルが終了し、書き込み完了しました。", last,
                   static_cast<int>(length));
    spirom_progress(io.page_count(), io.page_count(), "");
    return JTAG_OK;
}

namespace {

// Chip erase: the group's command, then status reads one poll interval apart up to the part's
// maximum erase time.
int chip_erase(FlashIo& io) {
    int status = JTAG_OK;
    switch (io.group()) {
        case Group::At45:
            spirom_log("チップ消去を開始します");
            status = io.command({0xC7, 0x94, 0x80, 0x9A});
            break;
        case Group::Series25:
            spirom_log("バルク消去を開始します");
            // Clearing the status register lifts the AT25DQ321's sector protection.
            if (io.at25dq()) {
                status = io.command({0x06});
                if (status == JTAG_OK) status = io.command({0x01, 0x00});
                if (status == JTAG_OK) status = io.wait_ready(kStatusWrite, false);
                if (status == kTimedOut) status = JTAG_FAIL;
            }
            if (status == JTAG_OK) status = io.command({0x06});
            if (status == JTAG_OK) status = io.command({0xC7});
            break;
        case Group::Sst:
            spirom_log("チップ消去を開始します");
            status = unprotect_sst(io);
            if (status == JTAG_OK) status = io.command({0x06});
            if (status == JTAG_OK) status = io.command({0xC7});
            break;
        case Group::Winbond:
            spirom_log("チップ消去を開始します");
            status = io.command({0x06});
            if (status == JTAG_OK) status = io.command({0xC7});
            break;
        case Group::None:
            return JTAG_UNSUPPORTED;
    }
    if (status != JTAG_OK) return status;
    return io.wait_ready(io.chip_limit(), true, true);
}

}  // namespace

int spirom_erase(SpiRomContext* c) {
    if (!c) return JTAG_FAIL;
    FlashIo io(c);
    const int status = chip_erase(io);
    switch (status) {
        case JTAG_OK:
            spirom_log("消去完了\n");
            spirom_progress(io.page_count(), io.page_count(), "");
            return JTAG_OK;
        case kTimedOut:
            spirom_log("チップ消去が%lld秒以内に終わりませんでした",
                       static_cast<long long>(io.chip_limit().max_us / 1000000));
            return JTAG_FAIL;
        case JTAG_CANCELLED:
            spirom_log("消去を中止しました");
            return JTAG_CANCELLED;
        default:
            return status;
    }
}
