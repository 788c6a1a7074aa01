// The reading operations: verify against a file, blank check, read back into a file, dump.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "jtag/msg.h"
#include "jtag/status.h"
#include "spirom/spirom_file.h"
#include "spirom/spirom_host.h"
#include "spirom/spirom_io.h"
#include "spirom/spirom_ops.h"

using spirom_io::FlashIo;
using spirom_io::Group;

namespace {

constexpr int kProgressPages = 10;
constexpr int kDumpRead = 528;
constexpr int kDumpShown = 256;

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
    spirom_log("page %d で結果不一致", page);
    spirom_log("Byte 0x%x, 0x%02X 0x%02X", at, file[at], rom[at]);
    spirom_log("ファイル\n");
    hex_dump_log(file, n, io.page_address(page));
    spirom_log("ROM\n");
    hex_dump_log(rom, n, io.page_address(page));
    return JTAG_VERIFY;
}

}  // namespace

int spirom_verify(SpiRomContext* c, const char* path, uint32_t offset) {
    if (!c) return JTAG_FAIL;
    spirom_log("SPIのベリファイを開始します");
    FlashIo io(c);
    SpiRomImage image;
    if (const int status =
            spirom_io::load_image(io.geometry(), path, offset, c->trim_header != 0, &image);
        status != JTAG_OK)
        return status;
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    spirom_log("Data arrayを読み出してファイル%sと比較します", shown_text(path).c_str());
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
        // Progress first: a cancel it lets through stops before the next comparison.
        spirom_progress(page, io.page_count(), "");
        if (!spirom_running()) {
            result = JTAG_CANCELLED;
            break;
        }
        const int read_from = page;
        rom.resize(size_t(end - page) * size);
        if (const int status = io.read_pages(page, end - page, rom.data()); status != JTAG_OK)
            return status;
        for (; page < end; ++page) {
            if (!holds(page)) continue;
            const auto [at, n] = in_file(page);
            result = compare_page(io, page, image.bytes.data() + at, image.held.data() + at,
                                  rom.data() + size_t(page - read_from) * size, n);
            if (result != JTAG_OK) {
                spirom_log("ベリファイエラーがあります");
                break;
            }
            if (at + n >= image.end)
                spirom_log(
                    "Page %dの中(%dバイト目)でファイルが終了しました。比較結果は一致しています。",
                    page, static_cast<int>(image.end));
        }
    }
    if (result == JTAG_OK) result = io.done();
    if (result == JTAG_OK) spirom_progress(io.page_count(), io.page_count(), "");
    return result;
}

int spirom_blank_check(SpiRomContext* c) {
    if (!c) return JTAG_FAIL;
    spirom_log("ブランクチェックを開始します");
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
                spirom_log("page %d に書き込みデータあり", page);
                hex_dump_log(bytes, size, io.page_address(page));
                result = JTAG_VERIFY;
                break;
            }
        }
        from += count;
    }
    if (const int status = io.done(); status != JTAG_OK) return status;
    if (result == JTAG_OK) spirom_progress(io.page_count(), io.page_count(), "");
    spirom_log(result == JTAG_OK ? "ROMはブランクです" : "ROMはブランクではありません");
    return result;
}

int spirom_read_back(SpiRomContext* c, const char* path, uint32_t offset) {
    if (!c || !path || !*path) return JTAG_FAIL;
    FlashIo io(c);
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    if (offset >= io.geometry().address_end()) {
        spirom_log("オフセット 0x%X はROMの範囲外です", offset);
        return JTAG_ADDRESS_OVERFLOW;
    }
    if (!io.page_aligned(offset)) {
        spirom_log("オフセット 0x%X はページの先頭ではありません (ページ %dバイト)", offset,
                   io.page_size());
        return JTAG_ADDRESS_OVERFLOW;
    }
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        const char* question = "ファイル%sはすでに存在します。上書きしますか？ (y/n)\n";
        spirom_log(question, shown_text(path).c_str());
        if (!spirom_confirm(format_text(question, shown_text(path).c_str()))) {
            spirom_log("読み出しを中止します\n");
            return JTAG_FAIL;
        }
    }
    spirom_log("Data arrayを読み出してファイル%sに保存します\n", shown_text(path).c_str());
    const int size = io.page_size();
    const int first = io.page_of(offset);
    std::vector<uint8_t> image(size_t(io.page_count() - first) * size);
    for (int from = first; from < io.page_count();) {
        if (!spirom_running()) {
            spirom_log("読み出しを中止します\n");
            return JTAG_CANCELLED;
        }
        const int count = std::min(io.page_count() - from, io.read_span(from));
        uint8_t* at = image.data() + size_t(from - first) * size;
        if (const int status = io.read_pages(from, count, at); status != JTAG_OK) return status;
        for (int page = from; page < from + count; ++page) {
            if (page % kProgressPages != 0) continue;
            spirom_log("page %d/%d (%dバイト)", page, io.page_count(), page * size);
            spirom_progress(page, io.page_count(), "");
        }
        from += count;
    }
    if (const int status = io.done(); status != JTAG_OK) return status;
    spirom_progress(io.page_count(), io.page_count(), "");
    msg_print("Read back done");
    const int saved = spirom_save_file(path, image.data(), std::ssize(image));
    spirom_log("\n");
    if (!saved) {
        spirom_log("ファイル%sに保存できません", shown_text(path).c_str());
        return JTAG_FILE_OPEN;
    }
    return JTAG_OK;
}

int spirom_dump(SpiRomContext* c, uint32_t address) {
    if (!c) return JTAG_FAIL;
    FlashIo io(c);
    if (io.group() == Group::None) return JTAG_UNSUPPORTED;
    // AT45 pages of 528 bytes leave gaps in the address space: the bound is the last page's end.
    if (address >= io.geometry().address_end()) {
        spirom_log("オフセット 0x%X はROMの範囲外です", address);
        return JTAG_ADDRESS_OVERFLOW;
    }
    spirom_log("Data arrayを読み出して先頭をダンプします\n");
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
