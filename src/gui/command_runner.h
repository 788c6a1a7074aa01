// One worker thread for the window's long commands, one command at a time. A job runs on the
// worker; its follow-up runs on the GUI thread once the job is over.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>

namespace vireo::gui {

class CommandRunner : public QObject {
    Q_OBJECT

  public:
    explicit CommandRunner(QObject* parent = nullptr);
    // Waits for the running job, then ends the thread.
    ~CommandRunner() override;

    // False (and nothing runs) while a job is running.
    bool run(std::function<void()> job, std::function<void()> done);
    bool busy() const { return busy_; }

  signals:
    // An exception escaped a job; `done` has still run.
    void failed(const QString& what);

  private:
    QThread thread_;
    std::unique_ptr<QObject> worker_;  // lives on thread_, receives the jobs
    bool busy_ = false;
};

}  // namespace vireo::gui
