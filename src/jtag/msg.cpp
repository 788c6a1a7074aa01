#include "jtag/msg.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

namespace {

struct CallbackTable {
    PrintCallback print = nullptr;
    ProgressCallback progress = nullptr;
    StatusCallback status = nullptr;
    QueryCallback query = nullptr;
    DiagnosticCallback diagnostic = nullptr;
};

CallbackTable& callbacks() {
    static CallbackTable table;
    return table;
}

template <typename F>
F store_if_set(F& slot, F callback) {
    if (callback) slot = callback;
    return callback;
}

using Clock = std::chrono::steady_clock;
static_assert(Clock::is_steady, "the performance counter must not jump");

}  // namespace

PrintCallback set_print_callback(PrintCallback callback) {
    return store_if_set(callbacks().print, callback);
}
PrintCallback current_print_callback() {
    return callbacks().print;
}
ProgressCallback set_progress_callback(ProgressCallback callback) {
    return store_if_set(callbacks().progress, callback);
}
StatusCallback set_status_callback(StatusCallback callback) {
    return store_if_set(callbacks().status, callback);
}
QueryCallback set_query_callback(QueryCallback callback) {
    return store_if_set(callbacks().query, callback);
}

int msg_print(const char* format, ...) {
    if (!format || !*format) return 0;
    va_list args;
    va_start(args, format);
    int result;
    if (callbacks().print) {
        result = callbacks().print(format, args);
    } else {
        result = std::vprintf(format, args);
        std::fflush(stdout);
    }
    va_end(args);
    return result;
}

DiagnosticCallback set_diagnostic_callback(DiagnosticCallback callback) {
    return store_if_set(callbacks().diagnostic, callback);
}

void msg_diagnostic(const char* format, ...) {
    if (!format || !*format) return;
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (callbacks().diagnostic) {
        callbacks().diagnostic(text);
    } else {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
}

void report_progress(int current, int total, const char* text) {
    if (callbacks().progress) callbacks().progress(current, total, text);
}

void report_status(const char* text) {
    if (callbacks().status) callbacks().status(text);
}

std::string query_value(const char* key) {
    return callbacks().query ? callbacks().query(key) : std::string();
}

uint16_t library_version() {
    return 0xC199;
}

char* trim_text(char* text) {
    if (!text || !*text) return nullptr;
    size_t len = std::strlen(text);
    while (len > 0) {
        unsigned char c = static_cast<unsigned char>(text[len - 1]);
        if (!std::iscntrl(c) && !std::isspace(c)) break;
        --len;
    }
    size_t start = 0;
    while (start < len) {
        unsigned char c = static_cast<unsigned char>(text[start]);
        if (!std::isspace(c) && std::isprint(c)) break;
        ++start;
    }
    std::memmove(text, text + start, len - start);
    text[len - start] = '\0';
    return text + (len - start);
}

uint32_t bits_value(const char* text) {
    uint32_t value = 0;
    for (; text && *text; ++text) value = value * 2 + (*text == '1' ? 1 : 0);
    return value;
}

uint32_t bits_mask(const char* text) {
    uint32_t mask = 0;
    for (; text && *text; ++text) mask = mask * 2 + (*text == '0' || *text == '1' ? 1 : 0);
    return mask;
}

uint32_t hex_value(const char* text) {
    uint32_t value = 0;
    for (; text && *text; ++text) {
        char c = *text;
        uint32_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        value = value * 16 + digit;
    }
    return value;
}

int read_cstring(char* buffer, int size, FILE* stream) {
    if (!buffer || size <= 0) return 0;
    int count = 0;
    if (stream) {
        while (count < size - 1) {
            int c = std::fgetc(stream);
            if (c == EOF || c == 0) break;
            buffer[count++] = static_cast<char>(c);
        }
    }
    buffer[count] = '\0';
    return count;
}

int64_t perf_counter() {
    return Clock::now().time_since_epoch().count();
}

int64_t perf_frequency() {
    return Clock::period::den / Clock::period::num;
}

int64_t perf_microseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

namespace {
std::atomic<WaitHandler> wait_handler{nullptr};
}

void set_wait_handler(WaitHandler handler) {
    wait_handler.store(handler);
}

int wait_us(int64_t microseconds) {
    if (const WaitHandler handler = wait_handler.load()) return handler(microseconds);
    if (microseconds >= 1'000'000) {
        auto ms = static_cast<int64_t>(static_cast<double>(microseconds / 1000) * 1.2);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return 1;
    }
    // The kernel's high-resolution timers wake a sleeper within tens of microseconds of its
    // deadline, so a short cable wait sleeps too instead of spinning a core. An absolute deadline
    // keeps a signal's interruption from shortening the wait.
    if (microseconds <= 0) return 1;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_nsec += static_cast<long>(microseconds % 1'000'000) * 1000;
    deadline.tv_sec += static_cast<time_t>(deadline.tv_nsec / 1'000'000'000);
    deadline.tv_nsec %= 1'000'000'000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
    return 1;
}

std::string format_text(const char* format, va_list args) {
    if (!format) return {};
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string text(static_cast<size_t>(n), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

namespace {

// Length of the UTF-8 character at text[i] when it is valid and no control character (C0, DEL,
// C1), else 0.
size_t printable_length(const std::string& text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t n = lead < 0x80             ? 1
                     : (lead & 0xE0) == 0xC0 ? 2
                     : (lead & 0xF0) == 0xE0 ? 3
                     : (lead & 0xF8) == 0xF0 ? 4
                                             : 0;
    if (n == 0 || i + n > text.size()) return 0;
    uint32_t code = n == 1 ? lead : lead & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3F);
    }
    constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};  // shorter forms are invalid
    const bool valid =
        code >= kSmallest[n] && code <= 0x10FFFF && (code < 0xD800 || code >= 0xE000);
    const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
    return valid && !control ? n : 0;
}

}  // namespace

std::string shown_text(const std::string& text, bool keep_newlines) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (const size_t n = printable_length(text, i)) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i++]);
        if (c == '\n' && keep_newlines) {
            out += '\n';
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
    }
    return out;
}
