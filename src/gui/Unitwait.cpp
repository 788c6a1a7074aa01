#include "gui/Unitwait.h"

#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "jtag/lang.h"

namespace vireo::gui {
namespace {

constexpr int kTickMs = 100;
constexpr int kShades = 16;

}  // namespace

TFormWait::TFormWait(const QString& path, QWidget* parent)
    : QDialog(parent), watch_(std::make_unique<app::FileUpdateWatch>(path.toStdString())) {
    setWindowTitle("Waiting...");
    setFixedSize(315, 181);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setFixedSize(297, 97);
    Memo1->appendPlainText("Waiting for file updated.");
    Memo1->appendPlainText("\"" + path + "\"");
    if (auto stamp = app::file_timestamp_text(path.toStdString()); stamp && watch_->has_stamp()) {
        Memo1->appendPlainText("Current timestamp is " + QString::fromStdString(*stamp));
    }
    Shape1 = new QFrame(this);
    Shape1->setFixedSize(297, 25);
    Shape1->setAutoFillBackground(true);
    Button1 = new QPushButton(tr_ja("キャンセル"), this);
    // Escape and the close box end the dialog with Cancel as the button does (QDialog's reject).
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 9, 9, 9);
    layout->addWidget(Memo1);
    layout->addWidget(Shape1);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);
    Timer1 = new QTimer(this);
    Timer1->setInterval(kTickMs);
    connect(Timer1, &QTimer::timeout, this, &TFormWait::Timer1Timer);
    Timer1->start();
}

void TFormWait::Timer1Timer() {
    tag_ = (tag_ + 1) % kShades;
    QPalette palette = Shape1->palette();
    palette.setColor(QPalette::Window, QColor(0, tag_ * 0x10, 0));
    Shape1->setPalette(palette);
    if (watch_->ready()) {
        Timer1->stop();
        accept();
    }
}

}  // namespace vireo::gui
