// The window's side of the command logic's interface. The command logic runs on the worker
// thread; every call that shows something becomes a queued signal to the GUI thread, and a
// question blocks the worker until the user has answered it on the GUI thread. No widget is
// touched from the worker.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>

#include "app/app_ui.h"
#include "gui/form_logic.h"
#include "gui/prompts.h"

namespace vireo::gui {

class WindowUi : public QObject, public app::AppUi {
    Q_OBJECT

  public:
    explicit WindowUi(QObject* parent = nullptr);

    void append_log(const std::string& line) override;
    // The library's progress reaches the window when it moves the bar by a pixel, starts or
    // ends; the flash code's progress every time.
    void show_progress(int position, int maximum) override;
    void show_flash_progress(int position, int maximum) override {
        emit progress(position, maximum);
    }
    // The phase ("Programming FPGA", "Verify") and the library's status texts go to the status
    // bar.
    void show_phase(const std::string& phase) override;
    void show_status(const std::string& text) override;
    bool ask_yes_no(const std::string& title, const std::string& question) override;
    void show_message(const std::string& title, const std::string& text) override;
    void show_picture(const std::string& path) override;
    void show_device_name(const std::string& name) override;
    void show_result(const std::string& text, int status) override;
    // The window keeps the busy state for the whole command itself.
    void set_busy(bool) override {}
    void allow_cancel(bool allowed) override { emit cancellable(allowed); }
    // On the worker, from the progress callback: hands a pending Cancel to the command logic.
    void process_events() override;

    // GUI thread. The questions and messages of the command logic go to these prompts.
    void set_prompts(Prompts prompts) { prompts_ = std::move(prompts); }
    // The progress bar's width in pixels, for the repaint filter.
    void set_bar_width(int pixels) { bar_width_ = pixels; }
    // Before a command starts: no Cancel pending, a fresh progress filter.
    void begin_command();
    // Cancel pressed: `on_cancel` runs on the worker at the command's next progress call.
    void request_cancel() { cancel_requested_ = true; }
    void set_cancel_handler(std::function<void()> on_cancel) { on_cancel_ = std::move(on_cancel); }

    // Any thread: a status line of the XVC server.
    void post_xvc_line(const std::string& line);

    // Runs `call` on the GUI thread and waits for it (at once when already there).
    void on_gui_thread(const std::function<void()>& call);

  signals:
    void logLine(const QString& line);
    void progress(int position, int maximum);
    void status(const QString& text);
    void picture(const QString& path);
    void deviceName(const QString& name);
    void result(const QString& text, int status);
    void xvcLine(const QString& line);
    void cancellable(bool allowed);

  private:
    Prompts prompts_;
    std::atomic<int> bar_width_{200};
    std::atomic<bool> cancel_requested_{false};
    std::function<void()> on_cancel_;
    std::mutex filter_mutex_;
    ProgressFilter filter_;
};

}  // namespace vireo::gui
