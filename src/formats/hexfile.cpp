#include "formats/hexfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/file_input.h"
#include "jtag/msg.h"

namespace {

using vireo::formats::FilePtr;
using vireo::formats::hex_pair;
using vireo::formats::LineRead;

// The next line, trimmed of blanks and control characters.
LineRead next_line(FILE* file, std::string& line) {
    const LineRead r = vireo::formats::read_line(file, line, kHexLineLimit);
    if (r == LineRead::Line) line.resize(trim_text(line.data()) ? std::strlen(line.c_str()) : 0);
    return r;
}

// Decodes count hex pairs from text[pos]; false when the line is too short for them or a digit
// is not hexadecimal, so a byte count never leads past the line.
bool decode_bytes(const std::string& text, size_t pos, int count, std::vector<int>& bytes) {
    bytes.resize(count);
    for (int i = 0; i < count; ++i) {
        bytes[i] = hex_pair(text, pos + 2 * i);
        if (bytes[i] < 0) return false;
    }
    return true;
}

int64_t big_endian(const std::vector<int>& bytes, int count) {
    int64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

void fill_buffer(uint8_t* buffer, int64_t size, uint8_t fill) {
    if (size > 0) std::memset(buffer, fill, static_cast<size_t>(size));
}

// Marks a stored byte for a caller that wants to know which addresses the file holds.
void mark(HexRecordsSeen* seen, int64_t index) {
    if (seen && seen->written) (*seen->written)[static_cast<size_t>(index)] = 1;
}

void start_seen(HexRecordsSeen* seen, int64_t size) {
    if (!seen) return;
    seen->data_records = 0;
    seen->end_record = false;
    if (seen->written) seen->written->assign(static_cast<size_t>(std::max<int64_t>(size, 0)), 0);
}

}  // namespace

int hexfile_read(const char* path, uint8_t* buffer, int64_t size, uint8_t fill, int64_t* length,
                 char* /*info*/, int /*info_size*/) {
    return hexfile_read_seen(path, buffer, size, fill, length, nullptr);
}

int hexfile_read_seen(const char* path, uint8_t* buffer, int64_t size, uint8_t fill,
                      int64_t* length, HexRecordsSeen* seen) {
    if (!buffer || size < 0) size = 0;
    start_seen(seen, size);
    // Filled and length set before opening: the flash code goes on with both whatever the result.
    fill_buffer(buffer, size, fill);
    int64_t highest = 0;
    if (length) *length = highest + 1;
    FilePtr file = vireo::formats::open_input(path);
    if (!file) return 12;

    int status = 1;
    int64_t base = 0;
    std::string line;
    std::vector<int> head, body;
    while (status == 1) {
        const LineRead r = next_line(file.get(), line);
        if (r == LineRead::End) break;
        if (r == LineRead::TooLong) {
            status = kHexFormatError;
            break;
        }
        if (line.empty() || line[0] != ':') continue;
        // ":" LL AAAA TT, then LL data bytes and the checksum.
        if (line.size() < 11 || !decode_bytes(line, 1, 4, head) ||
            !decode_bytes(line, 9, head[0] + 1, body)) {
            status = kHexFormatError;
            break;
        }
        const int count = head[0], type = head[3];
        const int64_t offset = head[1] << 8 | head[2];
        if (type == 1) {
            if (seen) seen->end_record = true;
            break;
        }
        if (type == 2 || type == 4) {
            if (count < 2) {
                status = kHexFormatError;
                break;
            }
            base = big_endian(body, 2) * (type == 2 ? 16 : 65536);
            continue;
        }
        if (type != 0) continue;
        if (seen) ++seen->data_records;

        int sum = head[0] + head[1] + head[2] + head[3];
        for (int i = 0; i < count; ++i) {
            const int64_t address = base + offset + i;
            if (address >= size) {
                status = kHexAddressOverflow;
                break;
            }
            buffer[address] = static_cast<uint8_t>(body[i]);
            mark(seen, address);
            highest = std::max(highest, address);
            sum += body[i];
        }
        if (status != 1) break;
        if ((sum + body[count]) % 256 != 0) {
            msg_print("Input file '%s' has wrong check sum.", path);
            status = kHexFormatError;
        }
    }
    if (length) *length = highest + 1;
    return status;
}

// Lowest address before any data record: all ones of a 32-bit S-record address.
constexpr int64_t kNoAddress = 0xFFFFFFFF;

int srecord_read(const char* path, uint8_t* buffer, int64_t size, uint8_t fill, int64_t* base,
                 int64_t* highest, int64_t* start, char* info, int info_size) {
    return srecord_read_seen(path, buffer, size, fill, base, highest, start, info, info_size,
                             nullptr);
}

int srecord_read_seen(const char* path, uint8_t* buffer, int64_t size, uint8_t fill, int64_t* base,
                      int64_t* highest, int64_t* start, char* info, int info_size,
                      HexRecordsSeen* seen) {
    if (!buffer || size < 0) size = 0;
    start_seen(seen, size);
    const int64_t offset = base ? *base : 0;
    int64_t lowest = kNoAddress, top = 0, entry = 0;
    std::string header;
    // Outputs as for an empty file also when it cannot be opened, so none holds stale values.
    auto report = [&](int status) {
        if (base) *base = lowest;
        if (highest) *highest = top;
        if (start) *start = entry;
        if (info && info_size > 0) {
            const size_t n = std::min(header.size(), static_cast<size_t>(info_size - 1));
            std::memcpy(info, header.data(), n);
            info[n] = '\0';
        }
        return status;
    };
    fill_buffer(buffer, size, fill);
    FilePtr file = vireo::formats::open_input(path);
    if (!file) return report(12);

    int status = 1;
    std::string line;
    std::vector<int> rec;
    for (LineRead r; (r = next_line(file.get(), line)) != LineRead::End;) {
        if (r == LineRead::TooLong) {
            status = kHexFormatError;
            continue;
        }
        if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') continue;
        // "S" t LL, then LL bytes: address, data, checksum.
        const int type = line[1] - '0';
        const int count = hex_pair(line, 2);
        if (count < 0 || !decode_bytes(line, 4, count, rec)) {
            status = kHexFormatError;
            continue;
        }
        const int address_bytes = type == 0 ? 2 : type <= 3 ? type + 1 : type >= 7 ? 11 - type : 0;
        if (address_bytes == 0) continue;  // S4, S5, S6
        if (count < address_bytes + 1) {
            status = kHexFormatError;
            continue;
        }
        const int64_t address = big_endian(rec, address_bytes);
        const int data_count = count - address_bytes - 1;
        if (type == 0) {
            // Header text up to a NUL, then one blank.
            const auto first = rec.begin() + address_bytes;
            const auto last = std::find(first, first + data_count, 0);
            header.append(first, last);
            header += ' ';
        } else if (type >= 7) {
            entry = address;
            if (seen) seen->end_record = true;
        } else {
            if (seen) ++seen->data_records;
            int sum = count;
            for (int i = 0; i < count - 1; ++i) sum += rec[i];
            for (int i = 0; i < data_count; ++i) {
                const int64_t at = address + i;
                const int64_t index = at - offset;
                if (index >= 0 && index < size) {
                    buffer[index] = static_cast<uint8_t>(rec[address_bytes + i]);
                    mark(seen, index);
                } else {
                    status = kHexAddressOverflow;
                }
                lowest = std::min(lowest, at);
                top = std::max(top, at);
            }
            if ((sum + rec[count - 1]) % 256 != 0xFF) status = kHexFormatError;
        }
    }
    return report(status);
}

int hexfile_write(const char* path, const uint8_t* data, int64_t count) {
    // Intel HEX reaches 4 GiB through its 16-bit extended linear address.
    if (!path || count < 0 || count > (int64_t{1} << 32) || (count > 0 && !data)) return 12;
    FILE* file = std::fopen(path, "w");
    if (!file) return 12;
    char text[64];
    for (int64_t offset = 0; offset < count; offset += 16) {
        if (offset % 65536 == 0) {
            const int upper = static_cast<int>(offset >> 16);
            std::snprintf(text, sizeof text, ":%02X000004%04X%02X\n", 2, upper,
                          -(2 + 4 + (upper >> 8) + (upper & 0xFF)) & 0xFF);
            std::fputs(text, file);
        }
        // Whole 16-byte records; a count that is not a multiple of 16 ends in a shorter one.
        const int n = static_cast<int>(std::min<int64_t>(16, count - offset));
        const int low = static_cast<int>(offset & 0xFFFF);
        int pos = std::snprintf(text, sizeof text, ":%02X%04X00", n, low);
        int sum = n + (low >> 8) + (low & 0xFF);
        for (int i = 0; i < n; ++i) {
            pos += std::snprintf(text + pos, sizeof text - pos, "%02X", data[offset + i]);
            sum += data[offset + i];
        }
        std::snprintf(text + pos, sizeof text - pos, "%02X\n", -sum & 0xFF);
        std::fputs(text, file);
    }
    std::fputs(":00000001FF\n", file);
    // A write that failed (full disk) is a failure, not a saved image.
    const bool written = !std::ferror(file);
    return std::fclose(file) == 0 && written ? 1 : 12;
}
