#include "formats/bitfile.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "formats/file_input.h"
#include "jtag/msg.h"

namespace {

using vireo::formats::FilePtr;

constexpr uint8_t reverse_bits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Walks the header. Every field goes into a scratch area as large as the caller's buffer could
// hold (a header field is at most 65535 bytes), so a field that cannot be read leaves the
// previous field's bytes in place, while the caller's buffer only ever receives the image.
class HeaderReader {
  public:
    HeaderReader(FILE* file, int size, uint8_t fill)
        : file_(file), size_(size), scratch_(std::min(size, 0xFFFF), fill) {}

    int result() const { return result_; }

    void fail(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        const std::string text = format_text(format, args);
        va_end(args);
        msg_print("%s", text.c_str());
        result_ = kBitfileFormatError;
    }

    // Big-endian length; an unreadable length counts as 0.
    bool length16(unsigned& value) { return number(2, value); }
    bool length32(unsigned& value) { return number(4, value); }

    // One key byte; -1 at the end of the file.
    bool key(int& value) {
        value = std::getc(file_);
        return value != EOF;
    }

    // Reads a field into the scratch area when it fits the caller's buffer size.
    bool field(unsigned length) {
        if (length > static_cast<unsigned>(size_)) return false;
        return std::fread(scratch_.data(), 1, length, file_) == length;
    }

    int first_byte() const { return scratch_.empty() ? -1 : scratch_[0]; }

    // The field's text: up to its first NUL, at most its length.
    std::string text(unsigned length) const {
        const size_t n = std::min<size_t>(length, scratch_.size());
        const auto end = std::find(scratch_.begin(), scratch_.begin() + n, 0);
        return std::string(scratch_.begin(), end);
    }

  private:
    bool number(int bytes, unsigned& value) {
        uint8_t raw[4];
        value = 0;
        if (std::fread(raw, 1, bytes, file_) != static_cast<size_t>(bytes)) return false;
        for (int i = 0; i < bytes; ++i) value = value << 8 | raw[i];
        return true;
    }

    FILE* file_;
    int size_;
    std::vector<uint8_t> scratch_;
    int result_ = 1;
};

// The header's texts come from the file and end up on terminals and in the log.
std::string printable(const std::string& text) {
    return shown_text(text);
}

void copy_info(char* info, int info_size, const std::string& text) {
    if (!info || info_size <= 0) return;
    const size_t n = std::min(text.size(), static_cast<size_t>(info_size - 1));
    std::memcpy(info, text.data(), n);
    info[n] = '\0';
}

}  // namespace

int bitfile_read(const char* path, uint8_t* buffer, int size, uint8_t fill, int* length, char* info,
                 int info_size) {
    if (!buffer || size < 0) size = 0;
    // The outputs are defined on every return, so a caller that goes on after a failure sees a
    // filled buffer and length 0 rather than stale memory.
    if (size > 0) std::memset(buffer, fill, static_cast<size_t>(size));
    if (length) *length = 0;
    copy_info(info, info_size, "");

    FilePtr file = vireo::formats::open_input(path);
    if (!file) return 12;
    HeaderReader r(file.get(), size, fill);
    unsigned len = 0;
    int key = 0;

    r.length16(len);  // preamble length: the preamble read below reports a damaged start
    if (!r.field(len)) r.fail("Input file error %s (bit header)", path);
    if (!r.length16(len)) r.fail("Input file format error (len)");
    if (!r.field(len)) r.fail("Input file error (key 'a' len)");
    if (r.first_byte() != 'a') r.fail("File format error: '%s'. (key 'a' missing)", path);

    if (!r.length16(len)) r.fail("Input file format error (len)");
    if (!r.field(len)) r.fail("Input file error (design name)");
    std::string description = "Design name:" + printable(r.text(len)) + " ";

    r.key(key);
    if (key != 'b') r.fail("File format error: '%s'. (key 'b' missing)", path);
    if (!r.length16(len)) r.fail("Input file format error (len)");
    if (!r.field(len)) r.fail("Input file error (part name)");
    description += "Part:" + printable(r.text(len)) + " ";

    if (!r.key(key)) r.fail("Input file format error (key 'c' len)");
    if (key != 'c') r.fail("File format error: '%s'. (key 'c' missing)", path);
    if (!r.length16(len)) r.fail("Input file format error (len)");
    if (!r.field(len)) r.fail("Input file error (date)");
    description += printable(r.text(len)) + " ";

    if (!r.key(key)) r.fail("Input file format error (key 'd' len)");
    if (key != 'd') r.fail("File format error: '%s'. (key 'd' missing)", path);
    if (!r.length16(len)) r.fail("Input file format error (len)");
    if (!r.field(len)) r.fail("Input file error (time)");
    description += printable(r.text(len));

    if (!r.key(key)) r.fail("Input file format error. (key 'e' len)");
    if (key != 'e') r.fail("File format error: '%s'. (key 'e' missing)", path);

    unsigned image = 0;
    if (!r.length32(image)) r.fail("Input file format error (image len)");
    int delivered = 0;
    if (image > static_cast<unsigned>(size) || std::fread(buffer, 1, image, file.get()) != image) {
        // Part of the image may be in the buffer: put the fill back so nothing half-read remains.
        if (size > 0) std::memset(buffer, fill, std::min<size_t>(image, size));
        r.fail("Input file '%s' exceeds device size.", path);
    } else {
        delivered = static_cast<int>(image);
        for (int i = 0; i < delivered; ++i) buffer[i] = reverse_bits(buffer[i]);
    }

    if (length) *length = delivered;
    copy_info(info, info_size, description);
    return r.result();
}

std::string bitfile_problem(const char* path, BitfileSummary* summary) {
    BitfileSummary local;
    BitfileSummary& out = summary ? *summary : local;
    out = {};
    FilePtr file = vireo::formats::open_input(path);
    if (!file) return "cannot be opened";
    FILE* f = file.get();
    auto number = [f](int bytes, uint64_t& value) {
        value = 0;
        for (int i = 0; i < bytes; ++i) {
            const int c = std::getc(f);
            if (c == EOF) return false;
            value = value << 8 | static_cast<unsigned>(c);
        }
        return true;
    };
    auto field = [f, &number](std::string* text) {
        uint64_t length = 0;
        if (!number(2, length)) return false;
        std::string bytes(length, '\0');
        if (std::fread(bytes.data(), 1, length, f) != length) return false;
        if (text) *text = printable(bytes.substr(0, bytes.find('\0')));
        return true;
    };
    // Preamble, then the 'a' key with its length field, then the keyed text fields.
    uint64_t one = 0;
    if (!field(nullptr) || !number(2, one) || std::getc(f) != 'a')
        return "not a .bit file (no header)";
    struct Key {
        char key;
        std::string* text;
    };
    std::string date, time;
    for (const Key& k :
         {Key{0, &out.design}, Key{'b', &out.part}, Key{'c', &date}, Key{'d', &time}}) {
        if (k.key && std::getc(f) != k.key) return "not a .bit file (header damaged)";
        if (!field(k.text)) return "not a .bit file (header cut short)";
    }
    if (std::getc(f) != 'e' || !number(4, out.declared)) return "not a .bit file (no image length)";
    out.header = static_cast<uint64_t>(std::ftell(f));
    if (out.declared == 0) return "the header declares no image";
    static constexpr uint8_t kSync[] = {0xAA, 0x99, 0x55, 0x66};
    size_t matched = 0;
    uint8_t buffer[65536];
    while (out.present < out.declared) {
        const size_t want = std::min<uint64_t>(sizeof buffer, out.declared - out.present);
        const size_t n = std::fread(buffer, 1, want, f);
        if (n == 0) break;
        for (size_t i = 0; i < n && !out.sync; ++i) {
            matched = buffer[i] == kSync[matched] ? matched + 1 : buffer[i] == kSync[0] ? 1 : 0;
            out.sync = matched == sizeof kSync;
        }
        out.present += n;
    }
    if (out.present < out.declared)
        return "truncated: the header declares " + std::to_string(out.declared) +
               " bytes, the file holds " + std::to_string(out.present);
    if (!out.sync) return "no sync word (AA 99 55 66) in its image";
    return "";
}
