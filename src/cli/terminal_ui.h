// The command line's face: log lines on standard output (standard error when it carries a JSON
// document), as many as the verbosity asks for, every one of them in the --log file; a progress
// bar named after its phase on a terminal (a few milestone lines otherwise), questions on the
// terminal, Ctrl-C as Cancel.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/app_ui.h"
#include "cli/verbosity.h"

namespace vireo::cli {

class TerminalUi : public app::AppUi {
  public:
    // assume_yes answers every question with yes (scripts, demos). `log` (may be null) receives
    // every line; with `lines_to_stderr` standard output is left to a JSON document.
    explicit TerminalUi(bool assume_yes, Verbosity verbosity = Verbosity::Verbose,
                        LogFile* log = nullptr, bool lines_to_stderr = false);

    void append_log(const std::string& line) override;
    void append_detail(const std::string& line) override;
    // A module's diagnostic for standard output ("idcode=...").
    void diagnostic(const std::string& text);
    // A line of the command line's own (a file's time stamp), shown like a log line.
    void note(const std::string& line);
    // The run ends with `exit_code`: a quiet run that failed without a failed verdict line shows
    // the lines that say why.
    void finish(int exit_code);
    // The run's last log lines, undated, as the Normal view has them (for a JSON error).
    const std::vector<std::string>& recent_lines() const { return recent_; }
    void show_progress(int position, int maximum) override;
    void show_phase(const std::string& phase) override;
    void show_status(const std::string& text) override;
    bool ask_yes_no(const std::string& title, const std::string& question) override;
    void show_message(const std::string& title, const std::string& text) override;
    void show_picture(const std::string&) override {}
    void show_device_name(const std::string&) override {}
    void show_result(const std::string& text, int status) override;
    void set_busy(bool) override {}
    void process_events() override;
    bool stop_requested() const override { return interrupted(); }

    // Called once from process_events after Ctrl-C.
    void on_interrupt(std::function<void()> cancel) { cancel_ = std::move(cancel); }
    static bool interrupted();
    // Installs the Ctrl-C handler (also for SIGTERM and SIGHUP): the first one asks the running
    // work to cancel, a second one ends the program, except while `protect` holds: then the work
    // in hand (a flash sector erased and not yet written back) finishes first.
    static void catch_interrupt();
    static void protect(bool on);

  private:
    void end_bar();
    void draw_bar();
    // Text for the lines' stream, written above an open progress bar.
    void print(const std::string& text);
    // A line for the terminal at the Normal level (undated): shown, or held back when quiet.
    void show_line(const std::string& line);
    void release_held();

    bool assume_yes_;
    Verbosity verbosity_;
    LogFile* log_;
    std::FILE* out_;
    std::vector<std::string> held_;  // quiet: the lines shown only when the command fails
    std::vector<std::string> recent_;
    bool tty_;
    bool bar_open_ = false;
    int last_percent_ = -1;
    int last_milestone_ = -1;  // not on a terminal: the last quarter printed
    std::string phase_ = "progress";
    bool cancel_sent_ = false;
    std::function<void()> cancel_;
};

}  // namespace vireo::cli
