// Programming and erasing: sector by sector, each sector's bytes outside the image read before
// its erase and written back after it; every busy wait bounded by the data sheet's maximum.
#include <algorithm>
#include <vector>

#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "spirom/spirom_aai.h"
#include "spirom/spirom_file.h"
#include "spirom/spirom_host.h"
#include "spirom/spirom_io.h"
#include "spirom/spirom_ops.h"
#include "spirom/spirom_range.h"

using spirom_io::AaiPacer;
using spirom_io::FlashIo;
using spirom_io::Group;
using spirom_io::kAaiOverrun;
using spirom_io::kTimedOut;

namespace {

constexpr int kProgressPages = 10;
constexpr spirom_io::BusyLimit kStatusWrite = {1000, 100 * 1000};

bool blank(const uint8_t* data, int count) {
    return std::all_of(data, data + count, [](uint8_t b) { return b == 0xFF; });
}

// One page of data into an erased page (AT45: the page erases itself). kAaiOverrun: an SST page
// whose words may not all have been taken.
int program_page(FlashIo& io, AaiPacer& aai, int page, const uint8_t* data) {
    const uint32_t address = io.page_address(page);
    int status = JTAG_OK;
    switch (io.group()) {
        case Group::At45:
            status = io.addressed(0x82, address, data, io.page_size());
            break;
        case Group::Series25:
        case Group::Winbond:
            status = io.write_enabled(0x02, address, data, io.page_size());
            break;
        case Group::Sst:
            status = aai.send_page(address, data, io.page_size());
            break;
        case Group::None:
            return JTAG_UNSUPPORTED;
    }
    if (status != JTAG_OK) return status;
    status = io.wait_ready(io.page_limit(), false);
    if (status == kTimedOut) {
        spirom_log(tr_ja("Page %d 書き込み失敗"), page);
        return JTAG_FAIL;
    }
    if (status == JTAG_OK && io.group() == Group::Sst) status = aai.check_page();
    return status;
}

// Unprotects (AT25DQ321) and erases the sector that starts at page; logs the failure. The erase
// always runs to its end: the sector's kept bytes go back only into an erased sector.
int erase_sector(FlashIo& io, int page) {
    const uint32_t address = io.page_address(page);
    const bool winbond = io.group() == Group::Winbond;
    if (io.group() == Group::Sst) {
        spirom_detail(tr_ja("ブロック %06x-%06xを消去します"), address, address + 0xFFFF);
    } else {
        spirom_detail("Writing on page %d..", page);
        spirom_detail(winbond ? "Erasing block %d" : "Erasing sector %d", page >> 8);
    }
    int status = JTAG_OK;
    // The AT25DQ321 powers up with every sector protected and refuses to erase them.
    if (io.at25dq()) status = io.write_enabled(0x39, address);
    if (status == JTAG_OK) status = io.write_enabled(0xD8, address);
    if (status == JTAG_OK) status = io.wait_ready(io.sector_limit(), false);
    if (status == kTimedOut) {
        spirom_log(winbond ? tr_ja("ブロック %d 消去失敗") : tr_ja("セクタ %d 消去失敗"),
                   page >> 8);
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

// One erase unit of the flash (a sector; an AT45 page) as it must read after programming: the
// image's bytes where the file holds them, the flash's own bytes elsewhere.
struct Sector {
    int first = 0, last = 0;  // pages
    std::vector<uint8_t> bytes;
    bool kept_data = false;  // bytes outside the file that are not erased ones
};

// Whether the image's page (counted from the image's first page) holds any byte of the file.
bool page_held(const FlashIo& io, const SpiRomImage& image, int64_t page_index) {
    const int64_t begin = page_index * io.page_size();
    if (begin >= image.end) return false;
    const int64_t end = std::min<int64_t>(begin + io.page_size(), image.end);
    return std::find(image.held.begin() + begin, image.held.begin() + end, 1) !=
           image.held.begin() + end;
}

// Builds a sector from the image and, for the bytes the file does not hold, the flash.
int collect_sector(FlashIo& io, const SpiRomImage& image, int first_page, Sector* sector) {
    const int size = io.page_size();
    sector->bytes.assign(size_t(sector->last - sector->first + 1) * size, 0xFF);
    sector->kept_data = false;
    for (int page = sector->first; page <= sector->last; ++page) {
        uint8_t* at = sector->bytes.data() + size_t(page - sector->first) * size;
        const int64_t pos = int64_t(page - first_page) * size;
        const bool inside = pos >= 0 && pos < image.end;
        const auto held = image.held.begin() + (inside ? pos : 0);
        const bool whole = inside && pos + size <= int64_t(image.held.size()) &&
                           std::all_of(held, held + size, [](uint8_t h) { return h != 0; });
        if (!whole) {
            if (const int status = io.read(io.page_address(page), at, size); status != JTAG_OK)
                return status;
        }
        for (int i = 0; i < size; ++i) {
            const int64_t k = pos + i;
            const bool ours = inside && k < int64_t(image.held.size()) && image.held[k];
            if (ours) {
                at[i] = image.bytes[k];
            } else if (at[i] != 0xFF) {
                sector->kept_data = true;
            }
        }
    }
    return JTAG_OK;
}

// Writes a sector's pages after its erase (pages that stay erased are skipped); AT45 pages erase
// themselves and are always written.
int write_sector(FlashIo& io, AaiPacer& aai, const Sector& sector,
                 const spirom_io::SectorProgress& progress) {
    const int size = io.page_size();
    for (int page = sector.first; page <= sector.last; ++page) {
        const uint8_t* data = sector.bytes.data() + size_t(page - sector.first) * size;
        if (io.group() != Group::At45 && blank(data, size)) continue;
        if (const int status = program_page(io, aai, page, data); status != JTAG_OK) return status;
        if (page % kProgressPages == 0) spirom_progress(page - progress.first, progress.count, "");
    }
    return JTAG_OK;
}

// A sector was erased (or its erase may have reached the flash) and could not be written back:
// its bytes as they should read go to a file, and the log says what is damaged and how to
// restore it.
void save_damaged(const FlashIo& io, const Sector& sector, const char* image_path) {
    const uint32_t start = io.page_address(sector.first);
    const uint32_t end = io.page_address(sector.last) + io.page_size() - 1;
    // An erase of a range has no file: what it could not write back lies outside the range.
    if (*image_path) {
        spirom_log(
            tr_ja("0x%08X-0x%08X は消去されたため、ファイル外のデータを書き戻せませんでした"),
            start, end);
    } else {
        spirom_log(
            tr_ja("0x%08X-0x%08X は消去されたため、消去範囲外のデータを書き戻せませんでした"),
            start, end);
    }
    const std::string path = spirom_rescue_path(image_path, start, end);
    if (!spirom_save_file(path.c_str(), sector.bytes.data(), std::ssize(sector.bytes))) {
        spirom_log(tr_ja("この範囲のデータを保存できませんでした"));
        return;
    }
    spirom_log(tr_ja("この範囲のあるべきデータを %s に保存しました"), shown_text(path).c_str());
    // The front end's options that reach this board (--sim, --serial ...), so that the command
    // restores this flash and not the one of another board.
    spirom_log(tr_ja("復元するには: vireo %sflash program --offset %X %s"),
               shown_text(query_value("board_options")).c_str(), start,
               shown_text(spirom_shell_word(path)).c_str());
}

// An SST sector some of whose words went out while the chip was still busy: the chip leaves AAI
// once idle, and the sector is erased and written again, every word given the data-sheet maximum.
int rewrite_overrun(FlashIo& io, AaiPacer& aai, const Sector& sector,
                    const spirom_io::SectorProgress& progress) {
    spirom_detail(
        "Block %06x: a word went out before the flash had finished the one before; the block is "
        "erased and written again at the data sheet's pace.",
        io.page_address(sector.first));
    aai.careful();
    int status = io.wait_ready(io.page_limit(), false);
    if (status == JTAG_OK) status = io.command({0x04});
    if (status == JTAG_OK) status = erase_sector(io, sector.first);
    if (status == JTAG_OK) status = write_sector(io, aai, sector, progress);
    return status == kTimedOut ? JTAG_FAIL : status;
}

}  // namespace

int spirom_check_image(const char* path, uint32_t offset, bool trim) {
    // The flash is not known yet: its messages about the offset would name the largest one.
    if (const int status = spirom_check_range(offset, -1); status != JTAG_OK) return status;
    if (!spirom_io::kLargestFlash.page_aligned(offset)) {
        spirom_log(
            "0x%X does not start a page: program and verify start at a multiple of 0x100 "
            "(on AT45 DataFlash parts of 0x200, or of 0x400 with 528-byte pages).",
            offset);
        return JTAG_ADDRESS_OVERFLOW;
    }
    SpiRomImage image;
    return spirom_io::load_image(spirom_io::kLargestFlash, path, offset, trim, &image, true);
}

int spirom_program(SpiRomContext* c, const char* path, uint32_t offset) {
    if (!c) return JTAG_FAIL;
    FlashIo io(c);
    SpiRomImage image;
    if (const int status =
            spirom_io::load_image(io.geometry(), path, offset, c->trim_header != 0, &image);
        status != JTAG_OK)
        return status;
    spirom_log(tr_ja("Data arrayにファイル%sを書き込みます"), shown_text(path).c_str());
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    const int size = io.page_size();
    const int first = io.page_of(offset);
    const int last = first + static_cast<int>((image.end + size - 1) / size) - 1;
    if (const int status = spirom_io::rewrite_sectors(io, image, first, path, {0, io.page_count()});
        status != JTAG_OK)
        return status;
    if (const int status = io.done(); status != JTAG_OK) return status;
    spirom_log(tr_ja("Page %dの中(%dバイト目)でファイルが終了し、書き込み完了しました。"), last,
               static_cast<int>(image.end));
    spirom_progress(io.page_count(), io.page_count(), "");
    return JTAG_OK;
}

int spirom_io::rewrite_sectors(FlashIo& io, const SpiRomImage& image, int first, const char* path,
                               SectorProgress progress) {
    const int size = io.page_size();
    const int last = first + static_cast<int>((image.end + size - 1) / size) - 1;
    const int per_sector = io.sector_pages();
    // A part the table does not name is known as one page of one byte: a sector erase would
    // wipe bytes that could not be read first and written back.
    if (per_sector > 1 && io.page_count() < per_sector) {
        spirom_log(
            "Flash %06X is not in the part table: its size is unknown, so it is not "
            "programmed (erase erases the whole chip).",
            static_cast<unsigned>(io.jedec()));
        return JTAG_UNSUPPORTED;
    }
    // The erase units that hold any byte of the file, each from its first page to its last.
    std::vector<Sector> sectors;
    for (int start = first - first % per_sector; start <= last; start += per_sector) {
        Sector sector;
        sector.first = start;
        sector.last = std::min(start + per_sector, io.page_count()) - 1;
        bool touched = false;
        for (int page = std::max(start, first); page <= std::min(sector.last, last) && !touched;
             ++page)
            touched = page_held(io, image, page - first);
        if (touched) sectors.push_back(std::move(sector));
    }
    // A sector whose rescue file is still pending holds damaged bytes, which would be kept as if
    // they were the user's: nothing is written until it is restored.
    for (const Sector& sector : sectors) {
        const uint32_t start = io.page_address(sector.first);
        const std::string pending =
            spirom_pending_rescue(path, start, io.page_address(sector.last) + io.page_size() - 1);
        if (pending.empty()) continue;
        spirom_log(
            tr_ja("%s がまだ書き戻されていません。先に復元してください: vireo %sflash program "
                  "--offset %X %s (復元後にそのファイルを削除してください)"),
            shown_text(pending).c_str(), shown_text(query_value("board_options")).c_str(), start,
            shown_text(spirom_shell_word(pending)).c_str());
        return JTAG_FAIL;
    }
    if (io.group() == Group::Sst) {
        if (const int status = unprotect_sst(io); status != JTAG_OK) return status;
    }
    AaiPacer aai(io);
    for (Sector& sector : sectors) {
        // A cancel stops between sectors only, so a sector is never left half written.
        if (!spirom_running()) {
            spirom_log(tr_ja("書き込みを中止しました"));
            return JTAG_CANCELLED;
        }
        if (const int status = collect_sector(io, image, first, &sector); status != JTAG_OK)
            return status;
        int status = per_sector > 1 ? erase_sector(io, sector.first) : JTAG_OK;
        if (status == JTAG_OK) status = write_sector(io, aai, sector, progress);
        if (status == kAaiOverrun) status = rewrite_overrun(io, aai, sector, progress);
        if (status != JTAG_OK) {
            if (sector.kept_data) {
                save_damaged(io, sector, path);
            } else {
                spirom_log(
                    "0x%08X-0x%08X may now be erased or half-written; it held nothing but bytes "
                    "of the file and erased ones, so programming the file again puts it right.",
                    io.page_address(sector.first),
                    io.page_address(sector.last) + io.page_size() - 1);
            }
            return status;
        }
        sector.bytes = {};  // one sector's bytes at a time
        if (progress.each_sector)
            spirom_progress(sector.last + 1 - progress.first, progress.count, "");
    }
    return JTAG_OK;
}

namespace {

// Chip erase: the group's command, then status reads one poll interval apart up to the part's
// maximum erase time.
int chip_erase(FlashIo& io) {
    int status = JTAG_OK;
    switch (io.group()) {
        case Group::At45:
            spirom_log(tr_ja("チップ消去を開始します"));
            status = io.command({0xC7, 0x94, 0x80, 0x9A});
            break;
        case Group::Series25:
            spirom_log(tr_ja("バルク消去を開始します"));
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
            spirom_log(tr_ja("チップ消去を開始します"));
            status = unprotect_sst(io);
            if (status == JTAG_OK) status = io.command({0x06});
            if (status == JTAG_OK) status = io.command({0xC7});
            break;
        case Group::Winbond:
            spirom_log(tr_ja("チップ消去を開始します"));
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
            spirom_log(tr_ja("消去完了\n"));
            spirom_progress(io.page_count(), io.page_count(), "");
            return JTAG_OK;
        case kTimedOut:
            if (io.chip_limit().max_us < 1000000) {
                spirom_log(tr_ja("チップ消去が%lldミリ秒以内に終わりませんでした"),
                           static_cast<long long>(io.chip_limit().max_us / 1000));
            } else {
                spirom_log(tr_ja("チップ消去が%lld秒以内に終わりませんでした"),
                           static_cast<long long>(io.chip_limit().max_us / 1000000));
            }
            return JTAG_FAIL;
        case JTAG_CANCELLED:
            spirom_log(tr_ja("消去を中止しました"));
            return JTAG_CANCELLED;
        default:
            return status;
    }
}
