#include "gui/result_badge.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QTimer>

#include "jtag/status.h"

namespace vireo::gui {

QColor result_colour(int status) {
    if (status == JTAG_OK) return QColor(0x00, 0xFF, 0xFF);
    if (status == JTAG_CANCELLED) return QColor(0xFF, 0xFF, 0x00);
    return QColor(0xFF, 0x00, 0xFF);
}

ResultBadge::ResultBadge(QWidget* over, const QString& text, int status)
    : QWidget(over, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      text_(text),
      colour_(result_colour(status)) {
    setObjectName("ResultBadge");
    // On X the window takes the ellipse's shape (below) and stays opaque: with the X server's
    // own compositing of see-through windows, when no compositor runs (plain X, Xvfb), the
    // corners would show black whatever the shape. Elsewhere (Wayland) every window is
    // composited and the corners are see-through.
    if (QGuiApplication::platformName() != "xcb") setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_DeleteOnClose);
    QFont big = font();
    big.setPointSize(24);
    setFont(big);
    const QFontMetrics metrics(big);
    // The ellipse's box is 1.5 times the text's width and height.
    const QSize box(metrics.horizontalAdvance(text_) * 3 / 2, metrics.height() * 3 / 2);
    resize(box);
    setMask(QRegion(rect(), QRegion::Ellipse));
    const QPoint centre = over->mapToGlobal(over->rect().center());
    move(centre - QPoint(box.width() / 2, box.height() / 2));
}

ResultBadge* ResultBadge::show_over(QWidget* over, const QString& text, int status) {
    auto* badge = new ResultBadge(over, text, status);  // owned by `over`, deletes itself
    badge->show();
    QTimer::singleShot(kShownMs, badge, &QWidget::close);
    return badge;
}

void ResultBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (testAttribute(Qt::WA_TranslucentBackground)) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour_);
        painter.drawEllipse(rect());
    } else {
        painter.fillRect(rect(), colour_);  // the shape makes it the ellipse
    }
    painter.setPen(Qt::black);
    painter.drawText(rect(), Qt::AlignCenter, text_);
}

}  // namespace vireo::gui
