#include "cli/terminal_ui.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "jtag/msg.h"
#include "jtag/status.h"

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
// Not on a terminal, progress prints its first figure and then one line per quarter of the work.
constexpr int kMilestonePercent = 25;
// Quiet: the lines a failed command shows are its last ones.
constexpr size_t kHeldLines = 200;

}  // namespace

TerminalUi::TerminalUi(bool assume_yes, Verbosity verbosity, LogFile* log, bool lines_to_stderr)
    : assume_yes_(assume_yes),
      verbosity_(verbosity),
      log_(log),
      out_(lines_to_stderr ? stderr : stdout),
      tty_(isatty(STDERR_FILENO)) {}

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

void TerminalUi::draw_bar() {
    const int filled = kBarWidth * last_percent_ / 100;
    std::fprintf(stderr, "\r  %s [%s%s] %3d%%", phase_.c_str(), std::string(filled, '#').c_str(),
                 std::string(kBarWidth - filled, '.').c_str(), last_percent_);
    std::fflush(stderr);
}

void TerminalUi::print(const std::string& text) {
    // A line that comes while a bar is drawn goes above it: the bar is wiped, the line written
    // and the bar drawn again below it, so that a phase keeps one bar.
    const bool under = bar_open_ && tty_;
    if (under) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
    if (under) draw_bar();
}

void TerminalUi::show_line(const std::string& line) {
    // Whatever a message carries from outside, no control sequence reaches the terminal.
    const std::string text = shown_text(line, true) + '\n';
    if (verbosity_ == Verbosity::Quiet) {
        held_.push_back(text);
        if (held_.size() > kHeldLines) held_.erase(held_.begin());
        return;
    }
    print(text);
}

void TerminalUi::release_held() {
    std::string text;
    for (const std::string& line : held_) text += line;
    if (!text.empty()) print(text);
    held_.clear();
}

void TerminalUi::append_log(const std::string& line) {
    if (log_) log_->write(line);
    if (const std::string text = undated(line); text.find_first_not_of(' ') != std::string::npos) {
        recent_.push_back(text);
        if (recent_.size() > kHeldLines) recent_.erase(recent_.begin());
    }
    if (verbosity_ == Verbosity::Verbose) return print(shown_text(line, true) + '\n');
    // Blank lines only separate the dated ones.
    const std::string text = undated(line);
    if (text.find_first_not_of(' ') == std::string::npos) return;
    show_line(text);
}

void TerminalUi::append_detail(const std::string& line) {
    if (verbosity_ == Verbosity::Verbose) return append_log(line);
    if (log_) log_->write(line);
}

void TerminalUi::diagnostic(const std::string& text) {
    std::string body = text;
    if (!body.empty() && body.back() == '\n') body.pop_back();
    if (log_) log_->write(body);
    if (verbosity_ == Verbosity::Verbose) print(shown_text(body, true) + '\n');
}

void TerminalUi::note(const std::string& line) {
    if (log_) log_->write(line);
    show_line(line);
}

void TerminalUi::finish(int exit_code) {
    // 1 is a failure; a cancel (130) is the user's own doing and needs no reason.
    if (verbosity_ == Verbosity::Quiet && exit_code == 1) release_held();
    held_.clear();
}

void TerminalUi::show_progress(int position, int maximum) {
    if (verbosity_ == Verbosity::Quiet) return;
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
        draw_bar();
        bar_open_ = true;
        // A full bar stays as it is; what follows goes below it.
        if (percent >= 100) end_bar();
    } else if (first || percent / kMilestonePercent > last_milestone_) {
        std::fprintf(stderr, "  %s %3d%%\n", phase_.c_str(), percent);
    }
    last_milestone_ = percent / kMilestonePercent;
}

void TerminalUi::show_phase(const std::string& phase) {
    end_bar();
    phase_ = phase.empty() ? "progress" : phase;
    last_percent_ = -1;
    last_milestone_ = -1;
}

void TerminalUi::show_status(const std::string& text) {
    if (log_) log_->write("  " + text);
    // The modules' step names ("Shutdown start"): the progress bar already names its phase.
    if (verbosity_ != Verbosity::Verbose) return;
    end_bar();
    std::cerr << "  " << text << '\n';
}

bool TerminalUi::ask_yes_no(const std::string& title, const std::string& question) {
    end_bar();
    const std::string asked = "[" + title + "] " + question;
    std::fprintf(out_, "%s%s", asked.c_str(), assume_yes_ ? " [y/N] y\n" : " [y/N] ");
    std::fflush(out_);
    bool yes = assume_yes_;
    if (!assume_yes_ && !isatty(STDIN_FILENO)) {
        std::fputs("n (no terminal to answer; use --yes)\n", out_);
        std::fflush(out_);
    } else if (!assume_yes_) {
        std::string answer;
        std::getline(std::cin, answer);
        yes = !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    }
    if (log_) log_->write(asked + (yes ? " [y/N] y" : " [y/N] n"));
    return yes;
}

void TerminalUi::show_message(const std::string& title, const std::string& text) {
    const std::string line = "[" + title + "] " + text;
    if (log_) log_->write(line);
    print(line + '\n');
}

void TerminalUi::show_result(const std::string& text, int status) {
    const std::string line = "==> " + text;
    if (log_) log_->write(line);
    // Quiet: a failed verdict comes with the lines that say why.
    if (verbosity_ == Verbosity::Quiet && status != JTAG_OK && status != JTAG_CANCELLED)
        release_held();
    held_.clear();
    print(line + '\n');
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
