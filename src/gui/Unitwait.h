// TFormWait: the small modal window that waits until the design file has been rewritten (a
// synthesis run finishing). It ends with OK once the file carries a newer time stamp and has
// stopped changing, with Cancel on its button, Escape or its close box.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "app/file_watch.h"

class QPlainTextEdit;
class QFrame;
class QPushButton;
class QTimer;

namespace vireo::gui {

class TFormWait : public QDialog {
    Q_OBJECT

  public:
    TFormWait(const QString& path, QWidget* parent = nullptr);

    QPlainTextEdit* Memo1 = nullptr;
    QFrame* Shape1 = nullptr;
    QPushButton* Button1 = nullptr;
    QTimer* Timer1 = nullptr;
    // The shade of Shape1, 0 to 15 (black to green).
    int tag() const { return tag_; }

  private:
    void Timer1Timer();

    std::unique_ptr<app::FileUpdateWatch> watch_;
    int tag_ = 0;
};

}  // namespace vireo::gui
