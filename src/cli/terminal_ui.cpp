#include "cli/terminal_ui.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "jtag/msg.h"

namespace vireo::cli {
namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_protected{false};

void on_signal(int signal) {
    if (g_interrupts.fetch_add(1) >= 1 && !g_protected) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

constexpr int kBarWidth = 40;
constexpr int kStepMarkerMaximum = 2;

}  // namespace

TerminalUi::TerminalUi(bool assume_yes) : assume_yes_(assume_yes), tty_(isatty(STDERR_FILENO)) {}

bool TerminalUi::interrupted() {
    return g_interrupts.load() > 0;
}

void TerminalUi::catch_interrupt() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, on_signal);
}

void TerminalUi::protect(bool on) {
    g_protected = on;
}

void TerminalUi::end_bar() {
    if (!bar_open_) return;
    std::fputc('\n', stderr);
    bar_open_ = false;
}

void TerminalUi::append_log(const std::string& line) {
    end_bar();
    // Whatever a message carries from outside, no control sequence reaches the terminal.
    std::cout << shown_text(line, true) << '\n' << std::flush;
}

void TerminalUi::show_progress(int position, int maximum) {
    if (maximum <= 0) {
        end_bar();
        last_percent_ = -1;
        return;
    }
    // A step count of two or less (the modules' "1 of 2" before the image) marks the phase as
    // started; shown as a percentage it would read as half the work done.
    if (maximum <= kStepMarkerMaximum) return;
    const int percent = static_cast<int>(100LL * position / maximum);
    if (percent == last_percent_) return;
    // Going back means the phase started over: a fresh line, so that the old figure does not
    // read as the new one's.
    const bool restart = percent < last_percent_;
    if (restart) end_bar();
    const bool first = last_percent_ < 0 || restart;
    last_percent_ = percent;
    if (tty_) {
        const int filled = kBarWidth * percent / 100;
        std::fprintf(stderr, "\r  %s [%s%s] %3d%%", phase_.c_str(),
                     std::string(filled, '#').c_str(), std::string(kBarWidth - filled, '.').c_str(),
                     percent);
        std::fflush(stderr);
        bar_open_ = true;
    } else if (first || percent % 10 == 0) {
        std::fprintf(stderr, "  %s %3d%%\n", phase_.c_str(), percent);
    }
}

void TerminalUi::show_phase(const std::string& phase) {
    end_bar();
    phase_ = phase.empty() ? "progress" : phase;
    last_percent_ = -1;
}

void TerminalUi::show_status(const std::string& text) {
    end_bar();
    std::cerr << "  " << text << '\n';
}

bool TerminalUi::ask_yes_no(const std::string& title, const std::string& question) {
    end_bar();
    std::cout << "[" << title << "] " << question << (assume_yes_ ? " [y/N] y\n" : " [y/N] ")
              << std::flush;
    if (assume_yes_) return true;
    if (!isatty(STDIN_FILENO)) {
        std::cout << "n (no terminal to answer; use --yes)\n";
        return false;
    }
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void TerminalUi::show_message(const std::string& title, const std::string& text) {
    end_bar();
    std::cout << "[" << title << "] " << text << '\n' << std::flush;
}

void TerminalUi::show_result(const std::string& text, int) {
    end_bar();
    std::cout << "==> " << text << '\n' << std::flush;
}

void TerminalUi::process_events() {
    if (interrupted() && !cancel_sent_ && cancel_) {
        cancel_sent_ = true;
        end_bar();
        std::cerr << (g_protected
                          ? "  Cancelling after the current piece...\n"
                          : "  Cancelling after the current piece (Ctrl-C again to abort)...\n");
        cancel_();
    }
}

}  // namespace vireo::cli
