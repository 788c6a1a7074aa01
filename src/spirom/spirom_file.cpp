#include "spirom/spirom_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "formats/hexfile.h"
#include "jtag/status.h"
#include "spirom/spirom_host.h"

namespace {

constexpr int kInfoSize = 1024;
constexpr std::array<uint8_t, 20> kSyncRun = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66};

struct FileClose {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileClose>;

bool is_hex(const char* path) {
    return spirom_has_extension(path, ".mcs") || spirom_has_extension(path, ".hex");
}
bool is_srec(const char* path) {
    return spirom_has_extension(path, ".s") || spirom_has_extension(path, ".srec");
}

void log_info(const char* info) {
    if (*info) spirom_log("Info:%s", info);
}

int load_raw(const char* path, uint8_t* buffer, int64_t size, int64_t* length) {
    File f(std::fopen(path, "rb"));
    if (!f) return JTAG_FILE_OPEN;
    const size_t n = std::fread(buffer, 1, static_cast<size_t>(size), f.get());
    *length = static_cast<int64_t>(n);
    // One byte more than the space holds: the image does not fit.
    if (static_cast<int64_t>(n) == size && std::fgetc(f.get()) != EOF) return JTAG_ADDRESS_OVERFLOW;
    return JTAG_OK;
}

}  // namespace

bool spirom_has_extension(const char* path, const char* ext) {
    if (!path || !ext) return false;
    const size_t n = std::strlen(path), m = std::strlen(ext);
    if (n < m) return false;
    for (size_t i = 0; i < m; ++i) {
        if (std::tolower(static_cast<unsigned char>(path[n - m + i])) !=
            std::tolower(static_cast<unsigned char>(ext[i])))
            return false;
    }
    return true;
}

int spirom_load_file(const char* path, uint8_t* buffer, int64_t size, int64_t* length) {
    if (!path || !buffer || !length || size < 0) return JTAG_NULL;
    *length = 0;
    std::fill_n(buffer, size, uint8_t{0xFF});
    char info[kInfoSize] = {};
    if (is_hex(path)) {
        spirom_log("HEXファイル '%s' を読み込みます。", path);
        const int status = hexfile_read(path, buffer, size, 0xFF, length, info, kInfoSize);
        spirom_log("最終アドレス=%08x", static_cast<unsigned>(*length));
        log_info(info);
        return status;
    }
    if (is_srec(path)) {
        spirom_log("Sレコードファイル '%s' を読み込みます。", path);
        int64_t base = 0, highest = 0, start = 0;
        const int status =
            srecord_read(path, buffer, size, 0xFF, &base, &highest, &start, info, kInfoSize);
        // The highest address holds data too: the image ends one byte after it.
        *length = base == 0xFFFFFFFF ? 0 : highest + 1;
        spirom_log("最終アドレス=%08x", static_cast<unsigned>(*length));
        log_info(info);
        return status;
    }
    return load_raw(path, buffer, size, length);
}

int spirom_save_file(const char* path, const uint8_t* data, int64_t count) {
    if (!path || (!data && count > 0) || count < 0) return 0;
    if (is_hex(path)) {
        spirom_log("HEXファイル '%s' を書き込みます。", path);
        return hexfile_write(path, data, count) == JTAG_OK ? 1 : 0;
    }
    if (is_srec(path))
        spirom_log("Sレコード形式の保存には対応していないため、バイナリで保存します。");
    File f(std::fopen(path, "wb"));
    if (!f) return 0;
    const bool written =
        std::fwrite(data, 1, static_cast<size_t>(count), f.get()) == static_cast<size_t>(count);
    return written && std::fclose(f.release()) == 0 ? 1 : 0;
}

void spirom_trim_bit_header(uint8_t* data, int64_t* length) {
    if (!data || !length || *length < static_cast<int64_t>(kSyncRun.size())) return;
    uint8_t* end = data + *length;
    const uint8_t* at = std::search(data, end, kSyncRun.begin(), kSyncRun.end());
    if (at == end) return;
    const int64_t skip = at - data;
    std::memmove(data, at, static_cast<size_t>(*length - skip));
    *length -= skip;
}
