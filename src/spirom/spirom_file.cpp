#include "spirom/spirom_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

#include "formats/bitfile.h"
#include "formats/file_input.h"
#include "formats/hexfile.h"
#include "jtag/lang.h"
#include "jtag/msg.h"
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

// The names the usual tools give these formats (objcopy, srec_cat, the FPGA vendors' tools).
bool has_any(const char* path, std::initializer_list<const char*> extensions) {
    return std::any_of(extensions.begin(), extensions.end(),
                       [path](const char* ext) { return spirom_has_extension(path, ext); });
}
bool is_hex(const char* path) {
    return has_any(path, {".mcs", ".hex", ".ihex", ".ihx", ".h86"});
}
bool is_srec(const char* path) {
    return has_any(path, {".s", ".srec", ".s19", ".s28", ".s37", ".mot", ".sx"});
}

void log_info(const char* info) {
    if (*info) spirom_log("Info:%s", info);
}

int load_raw(const char* path, uint8_t* buffer, int64_t size, int64_t* length) {
    // Regular files only: a FIFO or a device would block or never end.
    vireo::formats::FilePtr f = vireo::formats::open_input(path);
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

namespace {

// Reads a HEX / MCS or S-record file with its log lines; `seen` tells which bytes it held.
int load_records(const char* path, uint8_t* buffer, int64_t size, int64_t* length,
                 HexRecordsSeen* seen, bool quiet = false) {
    char info[kInfoSize] = {};
    int status = JTAG_FILE_OPEN;
    if (is_hex(path)) {
        if (!quiet)
            spirom_log(tr_ja("HEXファイル '%s' を読み込みます。"), shown_text(path).c_str());
        status = hexfile_read_seen(path, buffer, size, 0xFF, length, seen);
    } else {
        if (!quiet)
            spirom_log(tr_ja("Sレコードファイル '%s' を読み込みます。"), shown_text(path).c_str());
        int64_t base = 0, highest = 0, start = 0;
        status = srecord_read_seen(path, buffer, size, 0xFF, &base, &highest, &start, info,
                                   kInfoSize, seen);
        // The highest address holds data too: the image ends one byte after it.
        *length = base == 0xFFFFFFFF ? 0 : highest + 1;
    }
    if (!quiet) {
        spirom_log(tr_ja("最終アドレス=%08x"), static_cast<unsigned>(*length));
        log_info(info);
    }
    return status;
}

}  // namespace

int spirom_load_file(const char* path, uint8_t* buffer, int64_t size, int64_t* length) {
    if (!path || !buffer || !length || size < 0) return 0;
    *length = 0;
    std::fill_n(buffer, size, uint8_t{0xFF});
    // A HEX or S-record file is used with whatever its reader placed; the reader has said what
    // it rejected.
    if (is_hex(path) || is_srec(path)) {
        load_records(path, buffer, size, length, nullptr);
        return 1;
    }
    switch (load_raw(path, buffer, size, length)) {
        case JTAG_FILE_OPEN: {
            const std::string why = vireo::formats::input_problem(path);
            spirom_log(tr_ja("ファイル%sが読み込めません (%s)"), shown_text(path).c_str(),
                       why.empty() ? std::strerror(errno) : why.c_str());
            return 0;
        }
        case JTAG_ADDRESS_OVERFLOW:
            // The image stops at the end of the buffer; the rest of the file is not in it.
            spirom_log(
                tr_ja("ファイル%sはオフセット 0x%X からのROMの容量 (%lldバイト) を超えています"),
                shown_text(path).c_str(), 0u, static_cast<long long>(size));
            return 1;
        default:
            return 1;
    }
}

SpiRomLoad spirom_load_image(const char* path, int64_t size, bool trim, SpiRomImage* image,
                             std::string* problem, bool quiet) {
    if (const std::string why = vireo::formats::input_problem(path); !why.empty()) {
        if (problem) *problem = why;
        return why == "is empty" ? SpiRomLoad::Empty : SpiRomLoad::Unreadable;
    }
    // A .bit file is a bitstream: one that is cut, damaged or not one at all is not written.
    BitfileSummary bit;
    if (spirom_has_extension(path, ".bit")) {
        if (std::string why = bitfile_problem(path, &bit); !why.empty()) {
            if (problem) *problem = std::move(why);
            return SpiRomLoad::Faulty;
        }
    }
    image->bytes.assign(static_cast<size_t>(size), 0xFF);
    image->held.clear();
    int64_t length = 0;
    if (is_hex(path) || is_srec(path)) {
        HexRecordsSeen seen;
        seen.written = &image->held;
        const int status = load_records(path, image->bytes.data(), size, &length, &seen, quiet);
        if (status == kHexAddressOverflow) return SpiRomLoad::TooLarge;
        if (status != JTAG_OK) return SpiRomLoad::Faulty;
        if (seen.data_records == 0) return SpiRomLoad::Empty;
        if (!seen.end_record) return SpiRomLoad::Incomplete;
    } else {
        const int status = load_raw(path, image->bytes.data(), size, &length);
        if (status == JTAG_ADDRESS_OVERFLOW) return SpiRomLoad::TooLarge;
        if (status != JTAG_OK) {
            if (problem) *problem = std::strerror(errno);
            return SpiRomLoad::Unreadable;
        }
        if (trim && spirom_has_extension(path, ".bit")) {
            const int64_t whole = length;
            spirom_trim_bit_header(image->bytes.data(), &length);
            // A 7-series image has only eight 0xFF bytes before its sync word (after the bus
            // width pattern), so the run above never matches it: its header ends where the
            // file's header says the image begins.
            const auto header = static_cast<int64_t>(bit.header);
            if (length == whole && header > 0 && header < length) {
                std::memmove(image->bytes.data(), image->bytes.data() + header,
                             static_cast<size_t>(length - header));
                length -= header;
            }
        }
        std::fill(image->bytes.begin() + length, image->bytes.end(), uint8_t{0xFF});
        image->held.assign(static_cast<size_t>(size), 0);
        std::fill_n(image->held.begin(), length, uint8_t{1});
    }
    const auto last = std::find(image->held.rbegin(), image->held.rend(), uint8_t{1});
    image->end = image->held.rend() - last;
    return image->end > 0 ? SpiRomLoad::Ok : SpiRomLoad::Empty;
}

namespace {

// A temporary name beside path, in the same folder so that the rename stays on one file system.
std::string temporary_beside(const char* path) {
    const std::filesystem::path target(path);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".vireo-%d.tmp", static_cast<int>(::getpid()));
    std::string name = ".";
    name += target.filename().string();
    name += suffix;
    return (target.parent_path() / name).string();
}

bool write_raw(const char* path, const uint8_t* data, int64_t count) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(count - done));
        if (n <= 0) break;
        done += n;
    }
    const bool ok = done == count && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

}  // namespace

int spirom_save_file(const char* path, const uint8_t* data, int64_t count) {
    if (!path || !*path || (!data && count > 0) || count < 0) return 0;
    const bool hex = is_hex(path);
    if (hex) {
        spirom_log(tr_ja("HEXファイル '%s' を書き込みます。"), shown_text(path).c_str());
    } else if (is_srec(path)) {
        spirom_log(tr_ja("Sレコード形式の保存には対応していないため、バイナリで保存します。"));
    }
    const std::string temp = temporary_beside(path);
    const bool written = hex ? hexfile_write(temp.c_str(), data, count) == JTAG_OK
                             : write_raw(temp.c_str(), data, count);
    std::error_code error;
    // A file replaced keeps its permissions.
    const auto status = std::filesystem::status(path, error);
    if (written && !error && std::filesystem::is_regular_file(status))
        std::filesystem::permissions(temp, status.permissions(), error);
    error.clear();
    if (written) std::filesystem::rename(temp, path, error);
    if (!written || error) {
        std::filesystem::remove(temp, error);
        return 0;
    }
    return 1;
}

namespace {

namespace fs = std::filesystem;

constexpr int kRescueVersions = 100;

fs::path rescue_name(uint32_t start, uint32_t end, int version) {
    char name[64];
    if (version == 1) {
        std::snprintf(name, sizeof name, "vireo-flash-%08X-%08X.bin", start, end);
    } else {
        std::snprintf(name, sizeof name, "vireo-flash-%08X-%08X-%d.bin", start, end, version);
    }
    return name;
}

fs::path image_folder(const char* image_path) {
    const fs::path folder = image_path ? fs::path(image_path).parent_path() : fs::path();
    return folder.empty() ? fs::path(".") : folder;
}

}  // namespace

std::string spirom_rescue_path(const char* image_path, uint32_t start, uint32_t end) {
    fs::path folder = image_folder(image_path);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) folder = ".";
    std::error_code error;
    for (int n = 1;; ++n) {
        const fs::path path = folder / rescue_name(start, end, n);
        if ((!fs::exists(path, error) && !error) || n >= kRescueVersions) return path.string();
    }
}

std::string spirom_pending_rescue(const char* image_path, uint32_t start, uint32_t end) {
    std::error_code error;
    for (const fs::path& folder : {image_folder(image_path), fs::path(".")}) {
        for (int n = 1; n < kRescueVersions; ++n) {
            const fs::path path = folder / rescue_name(start, end, n);
            if (!fs::exists(path, error)) break;
            // Restoring it is what the file is for.
            if (fs::equivalent(path, image_path, error)) return "";
            return path.string();
        }
    }
    return "";
}

std::string spirom_shell_word(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of(
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                            "0123456789_./-+:,=@%") == std::string::npos;
    if (plain && text[0] != '-') return text;
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
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
