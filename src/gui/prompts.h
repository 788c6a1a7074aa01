// The window's modal questions and message boxes in one place, so that a test can answer them.
// Each is called on the GUI thread.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace vireo::gui {

struct Prompts {
    // A question: true for Yes / OK.
    std::function<bool(const QString& title, const QString& question)> ask;
    // A message the user acknowledges.
    std::function<void(const QString& title, const QString& text)> inform;
    // The design file dialog: the chosen file, or empty when cancelled.
    std::function<QString(const QString& title, const QString& start, const QString& filter)>
        open_file;
};

// Message boxes and the file dialog over `parent`.
Prompts dialog_prompts(QWidget* parent);

}  // namespace vireo::gui
