#include "spirom/spirom_host.h"

#include <cstdarg>
#include <cstdio>

#include "jtag/msg.h"

namespace {

SpiRomHost g_host;

}  // namespace

void spirom_set_host(const SpiRomHost& host) {
    g_host = host;
}

void spirom_log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (g_host.log) {
        g_host.log(text);
    } else {
        msg_print("%s\n", text.c_str());
    }
}

void spirom_detail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (g_host.detail) {
        g_host.detail(text);
    } else {
        spirom_log("%s", text.c_str());
    }
}

void spirom_progress(int current, int total, const std::string& text) {
    if (g_host.progress) g_host.progress(current, total, text);
}

bool spirom_running() {
    return !g_host.running || g_host.running();
}

bool spirom_confirm(const std::string& question) {
    if (g_host.confirm) return g_host.confirm(question);
    spirom_log("%s", question.c_str());
    return false;
}
