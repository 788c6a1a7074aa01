#include "app/host.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "cables/usb_drivers.h"
#include "devalg/builtin_modules.h"
#include "jtag/msg.h"
#include "spirom/spirom_host.h"

namespace vireo::app {
namespace {

AppUi* g_ui = nullptr;
AppPaths g_paths;
std::string g_board_options;               // the command line's options that reach this board
std::string g_phase;                       // the phase of progress reported without a text
std::optional<std::string> g_shown_phase;  // the phase the interface was last told of
std::atomic<bool> g_flash_running{true};
bool g_flash_yes = false;

int g_detail_depth = 0;  // DetailLines alive

// The log is lines, and each message is one line (more when it holds line ends of its own),
// whether it ends in "\n" or not: its one trailing "\n" ends that line and never adds a blank
// line. A message that is only "\n" ends the line that a message without a line end left open
// (the error report's reason, "Read back done", each followed by "\n"); with no line open it is a
// blank line on purpose. The flash code's lines follow the same rule.
std::atomic<bool> g_line_open{false};

// False when `text` only ends the open line and adds nothing to the log.
bool adds_line(const std::string& text) {
    const bool was_open = g_line_open.exchange(!text.empty() && text.back() != '\n');
    return !(was_open && text == "\n");
}

int print_sink(const char* format, va_list args) {
    const std::string text = format_text(format, args);
    if (g_ui && adds_line(text)) {
        const std::string line = log_line(text, std::time(nullptr));
        if (g_detail_depth > 0) {
            g_ui->append_detail(line);
        } else {
            g_ui->append_log(line);
        }
    }
    return static_cast<int>(text.size());
}

void report_progress(int current, int total, const char* text, bool flash) {
    if (!g_ui) return;
    const std::string phase = text && *text ? text : g_phase;
    if (total <= 0) {
        g_shown_phase.reset();
    } else if (phase != g_shown_phase) {
        g_shown_phase = phase;
        g_ui->show_phase(phase);
    }
    if (flash) {
        g_ui->show_flash_progress(current, total);
    } else {
        g_ui->show_progress(current, total);
    }
    g_ui->process_events();
}

void progress_sink(int current, int total, const char* text) {
    report_progress(current, total, text, false);
}

void status_sink(const char* text) {
    if (g_ui && text) g_ui->show_status(text);
}

std::string query_sink(const char* key) {
    const std::string k = key ? key : "";
    if (k == "bsdl_file_path" || k == "ddb_file_path" || k == "package_file_path" ||
        k == "sys_file_path" || k == "data_file_path" || k == "cable_plugin_dir") {
        return g_paths.sys_dir;
    }
    if (k == "exe_file_path") return g_paths.exe_dir;
    if (k == "board_options") return g_board_options;
    if (k == "overwrite") return g_ui && g_ui->ask_yes_no("query", "Over write OK ?") ? "Y" : "N";
    return "";
}

// The flash code's lines are its own tables and dumps: they go to the log as written, without
// the date and time in front (one trailing line end dropped, an empty line kept as a blank).
void flash_log(const std::string& line) {
    if (!adds_line(line)) return;
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (g_ui) g_ui->append_log(text.empty() ? " " : text);
}

void flash_detail(const std::string& line) {
    if (!adds_line(line)) return;
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (g_ui) g_ui->append_detail(text.empty() ? " " : text);
}

void flash_progress(int current, int total, const std::string& text) {
    report_progress(current, total, text.c_str(), true);
}

bool flash_confirm(const std::string& question) {
    // Answered before the operation (the command line's own question, or --force).
    if (g_flash_yes) return true;
    flash_log(question);
    return g_ui && g_ui->ask_yes_no("query", question);
}

bool blank(const std::string& text) {
    for (unsigned char c : text) {
        if (!std::isspace(c)) return false;
    }
    return true;
}

}  // namespace

std::string log_line(const std::string& text, std::time_t now) {
    std::string body = text;
    if (!body.empty() && body.back() == '\n') body.pop_back();
    if (body.empty() || blank(body)) return body.empty() ? " " : body;
    char stamp[32];
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
    return std::string(stamp) + "  " + body;
}

void log_message(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    g_line_open = false;
    if (g_ui) g_ui->append_log(log_line(text, std::time(nullptr)));
}

DetailLines::DetailLines(bool on) : on_(on) {
    if (on_) ++g_detail_depth;
}

DetailLines::~DetailLines() {
    if (on_) --g_detail_depth;
}

void log_blank_line() {
    g_line_open = false;
    if (g_ui) g_ui->append_log(" ");
}

void set_progress_phase(const std::string& phase) {
    g_phase = phase;
}

void set_flash_running(bool running) {
    g_flash_running = running;
}

bool flash_running() {
    return g_flash_running;
}

void set_board_options(const std::string& options) {
    g_board_options = options;
}

void set_flash_assume_yes(bool yes) {
    g_flash_yes = yes;
}

void install_host(AppUi* ui, const AppPaths& paths) {
    g_ui = ui;
    g_paths = paths;
    set_print_callback(print_sink);
    set_progress_callback(progress_sink);
    set_status_callback(status_sink);
    set_query_callback(query_sink);
    SpiRomHost flash;
    flash.log = flash_log;
    flash.detail = flash_detail;
    flash.progress = flash_progress;
    flash.running = flash_running;
    flash.confirm = flash_confirm;
    spirom_set_host(flash);
    cables_register_usb_drivers();
    devalg_register_builtin_modules();
}

}  // namespace vireo::app
