// The result badge: the operation's result ("Program Success!!") in black on a coloured ellipse
// over the centre of the window, for one second. A frameless window of its own in the shape of its
// ellipse (see-through where every window is composited), so nothing of the screen is grabbed or
// drawn over.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace vireo::gui {

// Cyan for a success, yellow for a cancel, magenta for a failure.
QColor result_colour(int status);

class ResultBadge : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kShownMs = 1000;

    // Shows the badge centred on `over`; it closes and deletes itself after kShownMs.
    static ResultBadge* show_over(QWidget* over, const QString& text, int status);

    const QString& text() const { return text_; }
    const QColor& colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    ResultBadge(QWidget* over, const QString& text, int status);

    QString text_;
    QColor colour_;
};

}  // namespace vireo::gui
