#include "cli/terminal_ui.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

namespace vireo::cli {
namespace {

std::atomic<int> g_interrupts{0};

void on_sigint(int) {
    if (g_interrupts.fetch_add(1) >= 1) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

constexpr int kBarWidth = 40;

}  // namespace

TerminalUi::TerminalUi(bool assume_yes) : assume_yes_(assume_yes), tty_(isatty(STDERR_FILENO)) {}

bool TerminalUi::interrupted() { return g_interrupts.load() > 0; }

void TerminalUi::catch_interrupt() { std::signal(SIGINT, on_sigint); }

void TerminalUi::end_bar() {
    if (!bar_open_) return;
    std::fputc('\n', stderr);
    bar_open_ = false;
}

void TerminalUi::append_log(const std::string& line) {
    end_bar();
    std::cout << line << '\n' << std::flush;
}

void TerminalUi::show_progress(int position, int maximum) {
    if (maximum <= 0) {
        end_bar();
        last_percent_ = -1;
        return;
    }
    const int percent = static_cast<int>(100LL * position / maximum);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    if (tty_) {
        const int filled = kBarWidth * percent / 100;
        std::fprintf(stderr, "\r  [%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(kBarWidth - filled, '.').c_str(), percent);
        std::fflush(stderr);
        bar_open_ = true;
    } else if (percent % 10 == 0) {
        std::fprintf(stderr, "  progress %3d%%\n", percent);
    }
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
        std::cerr << "  Cancelling after the current piece (Ctrl-C again to abort)...\n";
        cancel_();
    }
}

}  // namespace vireo::cli
