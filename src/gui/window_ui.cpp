#include "gui/window_ui.h"

#include <QThread>

namespace vireo::gui {
namespace {

QString text_of(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

WindowUi::WindowUi(QObject* parent) : QObject(parent) {}

void WindowUi::append_log(const std::string& line) {
    emit logLine(text_of(line));
}

void WindowUi::show_progress(int position, int maximum) {
    bool pass = false;
    {
        std::lock_guard lock(filter_mutex_);
        pass = maximum <= 0 || filter_.pass(position, maximum, bar_width_);
    }
    if (pass) emit progress(position, maximum);
}

void WindowUi::show_phase(const std::string& phase) {
    if (!phase.empty()) emit status(text_of(phase));
}

void WindowUi::show_status(const std::string& text) {
    emit status(text_of(text));
}

void WindowUi::on_gui_thread(const std::function<void()>& call) {
    if (QThread::currentThread() == thread()) {
        call();
    } else {
        QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
    }
}

bool WindowUi::ask_yes_no(const std::string& title, const std::string& question) {
    bool yes = false;
    on_gui_thread([&] {
        if (prompts_.ask) yes = prompts_.ask(text_of(title), text_of(question));
    });
    return yes;
}

void WindowUi::show_message(const std::string& title, const std::string& text) {
    on_gui_thread([&] {
        if (prompts_.inform) prompts_.inform(text_of(title), text_of(text));
    });
}

void WindowUi::show_picture(const std::string& path) {
    emit picture(text_of(path));
}

void WindowUi::show_device_name(const std::string& name) {
    emit deviceName(text_of(name));
}

void WindowUi::show_result(const std::string& text, int status_code) {
    emit result(text_of(text), status_code);
}

void WindowUi::post_xvc_line(const std::string& line) {
    emit xvcLine(text_of(line));
}

void WindowUi::process_events() {
    if (cancel_requested_.exchange(false) && on_cancel_) on_cancel_();
}

void WindowUi::begin_command() {
    cancel_requested_ = false;
    std::lock_guard lock(filter_mutex_);
    filter_ = ProgressFilter();
}

}  // namespace vireo::gui
