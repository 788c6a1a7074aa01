// The command line's face: log lines on standard output, a progress bar named after its phase on
// a terminal (plain percentage lines otherwise), questions on the terminal, Ctrl-C as Cancel.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "app/app_ui.h"

namespace vireo::cli {

class TerminalUi : public app::AppUi {
  public:
    // assume_yes answers every question with yes (scripts, demos).
    explicit TerminalUi(bool assume_yes);

    void append_log(const std::string& line) override;
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

    bool assume_yes_;
    bool tty_;
    bool bar_open_ = false;
    int last_percent_ = -1;
    std::string phase_ = "progress";
    bool cancel_sent_ = false;
    std::function<void()> cancel_;
};

}  // namespace vireo::cli
