#include "gui/command_runner.h"

#include <exception>

namespace vireo::gui {

CommandRunner::CommandRunner(QObject* parent) : QObject(parent), worker_(new QObject) {
    thread_.setObjectName("vireopg worker");
    worker_->moveToThread(&thread_);
    thread_.start();
}

CommandRunner::~CommandRunner() {
    thread_.quit();
    thread_.wait();
}

bool CommandRunner::run(std::function<void()> job, std::function<void()> done) {
    if (busy_) return false;
    busy_ = true;
    auto work = [this, job = std::move(job), done = std::move(done)]() {
        QString error;
        try {
            job();
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
        } catch (...) {
            error = "unknown exception";
        }
        QMetaObject::invokeMethod(
            this,
            [this, done, error] {
                busy_ = false;
                if (done) done();
                if (!error.isEmpty()) emit failed(error);
            },
            Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(worker_.get(), std::move(work), Qt::QueuedConnection);
    return true;
}

}  // namespace vireo::gui
