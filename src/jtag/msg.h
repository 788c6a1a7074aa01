// Message sink, host callbacks, text utilities and timing shared by the whole JTAG library.
// The library never talks to a user interface: it prints through msg_print and asks its host
// through the callbacks registered here. Without a host, messages go to standard output and
// queries answer with empty text.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

using PrintCallback = int (*)(const char* format, va_list args);
using ProgressCallback = void (*)(int current, int total, const char* text);
using StatusCallback = void (*)(const char* text);
using QueryCallback = std::string (*)(const char* key);

// Each setter stores a non-null function (null keeps the previous one) and returns its argument.
PrintCallback set_print_callback(PrintCallback callback);
ProgressCallback set_progress_callback(ProgressCallback callback);
StatusCallback set_status_callback(StatusCallback callback);
QueryCallback set_query_callback(QueryCallback callback);

// The print callback installed now (null when none), so that a caller can put it back.
PrintCallback current_print_callback();

// printf-style message. Null or empty format: nothing, 0. Returns the callback's result, or the
// number of characters written to standard output when no callback is set.
// Line ends: the text goes out as written, with no line end added. A host that keeps a log of
// lines (the application's) takes each message as one line whether or not it ends in "\n": one
// trailing "\n" ends it; a message that is only "\n" ends the line an unended message left open,
// and otherwise stands for a blank line. A line built from several messages (the dumps of
// registers and pin tables) therefore reads as one line on standard output only.
int msg_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The diagnostics a module writes to standard output rather than to the log ("idcode=..."),
// printf-style. Without a diagnostic callback they go to standard output as always; a front end
// may take them (to show them only when asked to, or to keep them in a log file of its own).
using DiagnosticCallback = void (*)(const std::string& text);
DiagnosticCallback set_diagnostic_callback(DiagnosticCallback callback);
void msg_diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf into a std::string ("" for a null format).
std::string format_text(const char* format, va_list args);

// Text from outside (file names, file headers, BSDL identifiers, USB strings, network bytes) as
// it may be shown on a terminal, in a log or a window: printable UTF-8 stays, control characters
// and bytes that are no UTF-8 become escapes (\n, \r, \t, \x1b ...), so no such text moves a
// cursor, retitles a window or starts a line of its own. With keep_newlines, line ends stay
// (for whole messages that are several lines by design).
std::string shown_text(const std::string& text, bool keep_newlines = false);

void report_progress(int current, int total, const char* text);
void report_status(const char* text);
// The host's answer for a configuration key ("ddb_file_path", "overwrite", ...); "" without host.
std::string query_value(const char* key);

// Version constant shared with the device-algorithm modules.
uint16_t library_version();

// Removes trailing control/blank characters, then leading blank or non-printable ones (the text
// moves to the start of the buffer). Returns the terminating zero, or null for null/empty text.
char* trim_text(char* text);
// Bit-pattern texts, first character most significant: value takes '1'; mask takes '0' and '1'.
uint32_t bits_value(const char* text);
uint32_t bits_mask(const char* text);
// Hexadecimal text without prefix; any other character counts as digit 0 but still shifts.
uint32_t hex_value(const char* text);
// Reads up to a zero byte, end of file or size-1 characters, and always terminates the buffer
// inside its size. Returns the number of characters stored.
int read_cstring(char* buffer, int size, FILE* stream);

// Waits the given microseconds: from one second upward sleeps (us / 1000) * 1.2 ms, below that
// sleeps until the deadline on the monotonic clock (woken within tens of microseconds of it;
// no core is spun).
int wait_us(int64_t microseconds);
// Where wait_us goes instead of the host's clock. A virtual board installs a handler that returns
// at once: its models already count every wait the cable's firmware makes in modeled time, and
// the host's real wait would only stretch the run. Null restores the host's clock.
using WaitHandler = int (*)(int64_t microseconds);
void set_wait_handler(WaitHandler handler);
int64_t perf_counter();
int64_t perf_frequency();
int64_t perf_microseconds();
