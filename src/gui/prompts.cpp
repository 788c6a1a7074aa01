#include "gui/prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace vireo::gui {

Prompts dialog_prompts(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    Prompts p;
    p.ask = [owner](const QString& title, const QString& question) {
        // The library's own query is an OK / Cancel box; every other question, the read-back's
        // "(y/n)" one among them, is Yes / No.
        const bool ok_cancel = question == "Over write OK ?";
        const auto yes = ok_cancel ? QMessageBox::Ok : QMessageBox::Yes;
        const auto no = ok_cancel ? QMessageBox::Cancel : QMessageBox::No;
        return QMessageBox::question(owner, title, question, yes | no, no) == yes;
    };
    p.inform = [owner](const QString& title, const QString& text) {
        QMessageBox::information(owner, title, text);
    };
    p.open_file = [owner](const QString& title, const QString& start, const QString& filter) {
        return QFileDialog::getOpenFileName(owner, title, start, filter);
    };
    return p;
}

}  // namespace vireo::gui
