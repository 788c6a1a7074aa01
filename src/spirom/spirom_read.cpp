// The reading operations: verify against a file, blank check, read back into a file, dump.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "spirom/spirom_file.h"
#include "spirom/spirom_host.h"
#include "spirom/spirom_io.h"
#include "spirom/spirom_ops.h"
#include "spirom/spirom_range.h"

using spirom_io::FlashIo;
using spirom_io::Group;

namespace {

constexpr int kProgressPages = 10;
constexpr int kDumpRead = 528;
constexpr int kDumpShown = 256;
// What verify clocks out while it reads the flash.
constexpr uint8_t kVerifyFill = 0xEE;

// The text a printf-style format gives, for a question to the host.
std::string format_text(const char* format, const char* arg) {
    const int n = std::snprintf(nullptr, 0, format, arg);
    std::string text(n > 0 ? size_t(n) : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, arg);
    return text;
}

// Compares the bytes the file holds in one page; dumps both on a difference.
int compare_page(const FlashIo& io, int page, const uint8_t* file, const uint8_t* held,
                 const uint8_t* rom, int n) {
    int at = 0;
    while (at < n && (!held[at] || file[at] == rom[at])) ++at;
    if (at == n) return JTAG_OK;
    spirom_log(tr_ja("page %d で結果不一致"), page);
    spirom_log("Byte 0x%x, 0x%02X 0x%02X", at, file[at], rom[at]);
    spirom_log(tr_ja("ファイル\n"));
    hex_dump_log(file, n, io.page_address(page));
    spirom_log("ROM\n");
    hex_dump_log(rom, n, io.page_address(page));
    return JTAG_VERIFY;
}

// Exactly the bytes [address, address + count) to the log, read page by page; each line shows
// the address of its first byte (on AT45 parts with 528-byte pages each page from its own address).
int dump_range(FlashIo& io, uint32_t address, int64_t count) {
    spirom_io::ByteRange range;
    if (const int status = spirom_io::resolve_range(io.geometry(), address, count, &range);
        status != JTAG_OK)
        return status;
    spirom_log(tr_ja("Data arrayを読み出して先頭をダンプします\n"));
    const int size = io.page_size();
    const int first = static_cast<int>(range.begin / size);
    const int after = static_cast<int>((range.end + size - 1) / size);
    std::vector<uint8_t> rom(size_t(after - first) * size);
    for (int from = first; from < after;) {
        if (!spirom_running()) return JTAG_CANCELLED;
        const int pages = std::min(after - from, io.read_span(from));
        if (const int status = io.read_pages(from, pages, rom.data() + size_t(from - first) * size);
            status != JTAG_OK)
            return status;
        from += pages;
    }
    if (const int status = io.done(); status != JTAG_OK) return status;
    // One run where addresses are linear, else page by page.
    const bool linear = size == (1 << io.geometry().shift);
    const int64_t base = int64_t{first} * size;
    for (int64_t at = range.begin; at < range.end;) {
        const int64_t piece_end = linear ? range.end : std::min(range.end, (at / size + 1) * size);
        const uint32_t shown =
            io.page_address(static_cast<int>(at / size)) + static_cast<uint32_t>(at % size);
        hex_dump_log(rom.data() + (at - base), static_cast<int>(piece_end - at), shown);
        at = piece_end;
    }
    return JTAG_OK;
}

}  // namespace

int spirom_verify(SpiRomContext* c, const char* path, uint32_t offset) {
    if (!c) return JTAG_FAIL;
    spirom_log(tr_ja("SPIのベリファイを開始します"));
    FlashIo io(c);
    SpiRomImage image;
    if (const int status =
            spirom_io::load_image(io.geometry(), path, offset, c->trim_header != 0, &image);
        status != JTAG_OK)
        return status;
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    spirom_log(tr_ja("Data arrayを読み出してファイル%sと比較します"), shown_text(path).c_str());
    const int size = io.page_size();
    const int first = io.page_of(offset);
    const int after_last = first + static_cast<int>((image.end + size - 1) / size);
    // The file's bytes in a page, and whether it holds any (gaps of a HEX file are not read).
    auto in_file = [&](int page) {
        const int64_t at = int64_t{page - first} * size;
        return std::pair{at, static_cast<int>(std::min<int64_t>(size, image.end - at))};
    };
    auto holds = [&](int page) {
        const auto [at, n] = in_file(page);
        const uint8_t* held = image.held.data() + at;
        return std::find(held, held + n, 1) != held + n;
    };
    std::vector<uint8_t> rom;
    int result = JTAG_OK;
    for (int from = first; from < after_last && result == JTAG_OK;) {
        const int to = std::min(after_last, from + io.read_span(from));
        int page = from, end = to;
        from = to;
        while (page < end && !holds(page)) ++page;
        while (end > page && !holds(end - 1)) --end;
        if (page == end) continue;
        // Progress first: a cancel it lets through stops before the next comparison. It counts
        // the file's pages, not the flash's.
        spirom_progress(page - first, after_last - first, "");
        if (!spirom_running()) {
            result = JTAG_CANCELLED;
            break;
        }
        const int read_from = page;
        rom.resize(size_t(end - page) * size);
        // Verify clocks 0xEE out while it reads (the other reads clock zeros).
        if (const int status = io.read_pages(page, end - page, rom.data(), kVerifyFill);
            status != JTAG_OK)
            return status;
        for (; page < end; ++page) {
            if (!holds(page)) continue;
            const auto [at, n] = in_file(page);
            result = compare_page(io, page, image.bytes.data() + at, image.held.data() + at,
                                  rom.data() + size_t(page - read_from) * size, n);
            if (result != JTAG_OK) {
                spirom_log(tr_ja("ベリファイエラーがあります"));
                break;
            }
            if (at + n >= image.end)
                spirom_log(
                    tr_ja("Page "
                          "%dの中(%dバイト目)でファイルが終了しました。比較結果は一致しています。"),
                    page, static_cast<int>(image.end));
        }
    }
    if (result == JTAG_OK) result = io.done();
    if (result == JTAG_OK) spirom_progress(after_last - first, after_last - first, "");
    return result;
}

int spirom_blank_check(SpiRomContext* c) {
    if (!c) return JTAG_FAIL;
    spirom_log(tr_ja("ブランクチェックを開始します"));
    FlashIo io(c);
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    const int size = io.page_size();
    std::vector<uint8_t> rom;
    int result = JTAG_OK;
    for (int from = 0; from < io.page_count() && result == JTAG_OK;) {
        if (!spirom_running()) return JTAG_CANCELLED;
        const int count = std::min(io.page_count() - from, io.read_span(from));
        rom.resize(size_t(count) * size);
        if (const int status = io.read_pages(from, count, rom.data()); status != JTAG_OK)
            return status;
        spirom_progress(from, io.page_count(), "");
        for (int page = from; page < from + count; ++page) {
            const uint8_t* bytes = rom.data() + size_t(page - from) * size;
            if (std::any_of(bytes, bytes + size, [](uint8_t b) { return b != 0xFF; })) {
                spirom_log(tr_ja("page %d に書き込みデータあり"), page);
                hex_dump_log(bytes, size, io.page_address(page));
                result = JTAG_VERIFY;
                break;
            }
        }
        from += count;
    }
    if (const int status = io.done(); status != JTAG_OK) return status;
    if (result == JTAG_OK) spirom_progress(io.page_count(), io.page_count(), "");
    spirom_log(result == JTAG_OK ? tr_ja("ROMはブランクです")
                                 : tr_ja("ROMはブランクではありません"));
    return result;
}

int spirom_read_back(SpiRomContext* c, const char* path, uint32_t offset, int64_t bytes) {
    if (!c || !path || !*path) return JTAG_FAIL;
    FlashIo io(c);
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    spirom_io::ByteRange range;
    if (const int status = spirom_io::resolve_range(io.geometry(), offset, bytes, &range);
        status != JTAG_OK)
        return status;
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        const char* question = tr_ja("ファイル%sはすでに存在します。上書きしますか？ (y/n)\n");
        if (!spirom_confirm(format_text(question, shown_text(path).c_str()))) {
            spirom_log(tr_ja("読み出しを中止します\n"));
            return JTAG_FAIL;
        }
    }
    spirom_log(tr_ja("Data arrayを読み出してファイル%sに保存します\n"), shown_text(path).c_str());
    // The pages that hold the range; progress counts them.
    const int size = io.page_size();
    const int first = static_cast<int>(range.begin / size);
    const int after = static_cast<int>((range.end + size - 1) / size);
    std::vector<uint8_t> image(size_t(after - first) * size);
    for (int from = first; from < after;) {
        if (!spirom_running()) {
            spirom_log(tr_ja("読み出しを中止します\n"));
            return JTAG_CANCELLED;
        }
        const int count = std::min(after - from, io.read_span(from));
        uint8_t* at = image.data() + size_t(from - first) * size;
        if (const int status = io.read_pages(from, count, at); status != JTAG_OK) return status;
        for (int page = from; page < from + count; ++page) {
            if (page % kProgressPages != 0) continue;
            spirom_detail(tr_ja("page %d/%d (%dバイト)"), page, io.page_count(), page * size);
            spirom_progress(page - first, after - first, "");
        }
        from += count;
    }
    if (const int status = io.done(); status != JTAG_OK) return status;
    spirom_progress(after - first, after - first, "");
    msg_print("Read back done");
    const int saved = spirom_save_file(path, image.data() + (range.begin - int64_t{first} * size),
                                       range.end - range.begin);
    spirom_log("\n");
    if (!saved) {
        spirom_log(tr_ja("ファイル%sに保存できません"), shown_text(path).c_str());
        return JTAG_FILE_OPEN;
    }
    return JTAG_OK;
}

int spirom_dump(SpiRomContext* c, uint32_t address, int64_t count) {
    if (!c) return JTAG_FAIL;
    FlashIo io(c);
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    if (count >= 0) return dump_range(io, address, count);
    const spirom_io::Geometry& g = io.geometry();
    if (g.page_size != (1 << g.shift)) {
        // AT45 pages of 528 bytes: an address is page × 2^shift + byte, so the 256 bytes are
        // dumped as a range (labelled page by page, an address in a page's gap refused), up to
        // the last byte of the flash; a plain read would run on into the next page's gap.
        const int64_t byte = address & ((1u << g.shift) - 1);
        int64_t left = kDumpShown;
        if (byte < g.page_size && g.page_of(address) < g.page_count)
            left = std::min(left, int64_t{g.page_count - g.page_of(address)} * g.page_size - byte);
        return dump_range(io, address, left);
    }
    // AT45 pages of 528 bytes leave gaps in the address space: the bound is the last page's end.
    if (address >= io.geometry().address_end()) {
        spirom_log(tr_ja("オフセット 0x%X はROMの範囲外です"), address);
        spirom_io::log_flash_extent(io.geometry());
        return JTAG_ADDRESS_OVERFLOW;
    }
    spirom_log(tr_ja("Data arrayを読み出して先頭をダンプします\n"));
    uint8_t bytes[kDumpRead] = {};
    if (const int status = io.read(address, bytes, kDumpRead); status != JTAG_OK) return status;
    if (const int status = io.done(); status != JTAG_OK) return status;
    // Past the last address the flash wraps to its start: those bytes are not shown.
    hex_dump_log(
        bytes,
        static_cast<int>(std::min<int64_t>(kDumpShown, io.geometry().address_end() - address)),
        address);
    return JTAG_OK;
}
