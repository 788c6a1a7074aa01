// What the command logic needs from a user interface. The terminal (vireo) and the window
// (vireopg) implement it; the command logic itself knows neither.
#pragma once

#include <string>

namespace vireo::app {

class AppUi {
  public:
    virtual ~AppUi() = default;

    // One finished log line (the date-and-time prefix already applied where it belongs).
    virtual void append_log(const std::string& line) = 0;
    // A line of the step-by-step account (each flash page or sector, a quiet reconnect's cable
    // lines): a short view may leave it out, a log keeps it.
    virtual void append_detail(const std::string& line) { append_log(line); }
    // Progress of a long operation; maximum 0 means "no progress to show".
    virtual void show_progress(int position, int maximum) = 0;
    // Progress of an SPI flash operation. The flash code reports at its own pace (every ten
    // pages, each status poll), so an interface that thins out the library's progress shows
    // every one of these.
    virtual void show_flash_progress(int position, int maximum) {
        show_progress(position, maximum);
    }
    // The phase the following progress belongs to ("Programming FPGA", "Shutdown"), given
    // whenever it changes, so that a new phase's 0% is never read as the old one's.
    virtual void show_phase(const std::string&) {}
    virtual void show_status(const std::string& text) = 0;
    virtual bool ask_yes_no(const std::string& title, const std::string& question) = 0;
    virtual void show_message(const std::string& title, const std::string& text) = 0;
    // Board picture file (full path) and the detected device's name.
    virtual void show_picture(const std::string& path) = 0;
    virtual void show_device_name(const std::string& name) = 0;
    // The result badge: the text ("Program Success!!") and the operation status behind it.
    virtual void show_result(const std::string& text, int status) = 0;
    // Busy while a command runs (only Cancel usable), idle otherwise.
    virtual void set_busy(bool busy) = 0;
    // Whether the running command can be cancelled now: the FX3 firmware download cannot.
    virtual void allow_cancel(bool) {}
    // Lets the interface handle pending input during a long operation (Cancel, Ctrl-C).
    virtual void process_events() {}
    // Whether the user has asked the whole command to stop (Ctrl-C), also between operations,
    // where no running flag is watched yet. The window cancels operations only.
    virtual bool stop_requested() const { return false; }
};

}  // namespace vireo::app
