// The application's answers to the JTAG library: the message sink that turns messages into
// dated log lines, the progress and status callbacks, and the configuration query.
#pragma once

#include <cstdarg>
#include <ctime>
#include <string>

#include "app/app_ui.h"
#include "app/paths.h"

namespace vireo::app {

// Registers the callbacks with the library; they report to `ui` from now on.
void install_host(AppUi* ui, const AppPaths& paths);

// The command-line options that reach this run's board ("--sim kb2203 ", "--serial S "...), each
// followed by a blank; commands the log tells the user to run carry them. "" by default.
void set_board_options(const std::string& options);

// Names the phase of progress that the library reports without a text of its own ("Shutdown");
// "" when none runs.
void set_progress_phase(const std::string& phase);

// The log line of one message: a blank line for no text; a text that is not blank gets the date
// and time ("2026/12/07 20:45:12") and two blanks in front. One trailing line end is dropped.
std::string log_line(const std::string& text, std::time_t now);

// Appends a line to the log the way the library's messages are (with the date prefix).
void log_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one lives, the library's messages are lines of the step-by-step account
// (AppUi::append_detail): a quiet reconnect's cable lines. Nests.
class DetailLines {
  public:
    explicit DetailLines(bool on = true);
    ~DetailLines();
    DetailLines(const DetailLines&) = delete;
    DetailLines& operator=(const DetailLines&) = delete;

  private:
    bool on_;
};

// Appends a line holding one blank.
void log_blank_line();

// The running flag of the SPI ROM operations: set for the length of one operation, cleared by
// Cancel; the operations watch it in their loops.
void set_flash_running(bool running);
bool flash_running();
// While set, the flash operations' questions (overwrite a file) are answered yes unasked.
void set_flash_assume_yes(bool yes);

}  // namespace vireo::app
