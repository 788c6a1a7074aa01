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
    std::vector<uint8_t> rom(size);
    int result = JTAG_OK;
    for (int64_t sum = 0; sum < image.end; sum += size) {
        const int page = first + static_cast<int>(sum / size);
        const int n = static_cast<int>(std::min<int64_t>(size, image.end - sum));
        const uint8_t* held = image.held.data() + sum;
        // Pages the file holds nothing of (gaps of a HEX file) are not read.
        if (std::find(held, held + n, 1) == held + n) continue;
        // Progress first: a cancel it lets through stops before the next comparison.
        if (page % kProgressPages == 0) spirom_progress(page, io.page_count(), "");
        if (!spirom_running()) {
            result = JTAG_CANCELLED;
            break;
        }
        if (const int status = io.read(io.page_address(page), rom.data(), size); status != JTAG_OK)
            return status;
        result = compare_page(io, page, image.bytes.data() + sum, held, rom.data(), n);
        if (result != JTAG_OK) {
            spirom_log("ベリファイエラーがあります");
            break;
        }
        if (sum + n >= image.end)
            spirom_log(
                "Page %dの中(%dバイト目)でファイルが終了しました。比較結果は一致しています。", page,
                static_cast<int>(image.end));
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
    std::vector<uint8_t> rom(size);
    int result = JTAG_OK;
    for (int page = 0; page < io.page_count(); ++page) {
        if (!spirom_running()) return JTAG_CANCELLED;
        if (const int status = io.read(io.page_address(page), rom.data(), size); status != JTAG_OK)
            return status;
        if (page % kProgressPages == 0) spirom_progress(page, io.page_count(), "");
        if (std::any_of(rom.begin(), rom.end(), [](uint8_t b) { return b != 0xFF; })) {
            spirom_log("page %d に書き込みデータあり", page);
            hex_dump_log(rom.data(), size, io.page_address(page));
            result = JTAG_VERIFY;
            break;
        }
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
    for (int page = first; page < io.page_count(); ++page) {
        if (!spirom_running()) {
            spirom_log("読み出しを中止します\n");
            return JTAG_CANCELLED;
        }
        uint8_t* at = image.data() + size_t(page - first) * size;
        if (const int status = io.read(io.page_address(page), at, size); status != JTAG_OK)
            return status;
        if (page % kProgressPages == 0) {
            spirom_log("page %d/%d (%dバイト)", page, io.page_count(), page * size);
            spirom_progress(page, io.page_count(), "");
        }
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
