// mkpictures: draws the window's pictures into a folder (the build's bin/sys/): the tool bar
// images toolbar_00.png ... toolbar_12.png (48 x 48, in the image list's order), the program's
// icon vireopg.png, and the 300 x 200 board pictures the window shows by device and target
// (kb2201a.bmp ... lumenkb.bmp, none.bmp, xvcserver.bmp). All of them are plain drawings made
// here: coloured shapes and our own labels.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

struct Tool {
    const char* label;
    QColor colour;
};

// Image list index -> label and colour: 0 IDCODE, 1 DNA, 2 DUMP, 3 BLANK, 4 ERASE, 5 AUTO,
// 6 WRITE, 7 VERIFY, 8 READ, 9 Cancel, 10 Open, 11 Connect, 12 XVC.
const Tool kTools[] = {
    {"ID", QColor(0x2F, 0x6F, 0xC0)},    {"DNA", QColor(0x7B, 0x4F, 0xB8)},
    {"DUMP", QColor(0x5F, 0x6B, 0x78)},  {"BLANK", QColor(0x2A, 0x9D, 0x8F)},
    {"ERASE", QColor(0xD0, 0x5A, 0x2C)}, {"AUTO", QColor(0x2E, 0x9E, 0x44)},
    {"WRITE", QColor(0xE0, 0x8A, 0x1E)}, {"VERIFY", QColor(0x1E, 0x8F, 0xB0)},
    {"READ", QColor(0x8A, 0x62, 0x3E)},  {"", QColor(0xC8, 0x2A, 0x2A)},
    {"", QColor(0xE8, 0xB9, 0x3A)},      {"JTAG", QColor(0x3A, 0x4A, 0x5C)},
    {"XVC", QColor(0x1F, 0x4E, 0x79)},
};

QFont bold(int pixels) {
    QFont font("DejaVu Sans");
    font.setBold(true);
    font.setPixelSize(pixels);
    return font;
}

// A label that fits the width: the largest pixel size up to `max_pixels`.
void fitted_text(QPainter& p, const QRect& box, const QString& text, int max_pixels) {
    int size = max_pixels;
    while (size > 6 && QFontMetrics(bold(size)).horizontalAdvance(text) > box.width()) --size;
    p.setFont(bold(size));
    p.drawText(box, Qt::AlignCenter, text);
}

QImage tool_image(int index) {
    const Tool& tool = kTools[index];
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(tool.colour.darker(140), 1.5));
    p.setBrush(tool.colour);
    if (index == 9) {  // Cancel: a round stop sign with a cross
        p.drawEllipse(QRectF(3, 3, 42, 42));
        p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(16, 16, 32, 32);
        p.drawLine(32, 16, 16, 32);
        return image;
    }
    if (index == 10) {  // Open: a folder
        QPainterPath folder;
        folder.moveTo(4, 12);
        folder.lineTo(18, 12);
        folder.lineTo(22, 16);
        folder.lineTo(44, 16);
        folder.lineTo(44, 40);
        folder.lineTo(4, 40);
        folder.closeSubpath();
        p.drawPath(folder);
        p.setBrush(tool.colour.lighter(120));
        p.drawRect(QRectF(4, 20, 40, 20));
        return image;
    }
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 8, 8);
    p.setPen(Qt::white);
    if (index == 11 || index == 12) {
        // Connect and XVC: a plug's pins / a small network above the label.
        p.setBrush(Qt::white);
        if (index == 11) {
            p.drawRect(QRectF(16, 8, 16, 10));
            p.drawRect(QRectF(19, 4, 3, 5));
            p.drawRect(QRectF(26, 4, 3, 5));
        } else {
            p.setPen(QPen(Qt::white, 2));
            p.drawLine(12, 12, 24, 8);
            p.drawLine(24, 8, 36, 12);
            p.drawEllipse(QPointF(12, 12), 3, 3);
            p.drawEllipse(QPointF(24, 8), 3, 3);
            p.drawEllipse(QPointF(36, 12), 3, 3);
        }
        fitted_text(p, QRect(4, 22, 40, 20), tool.label, 15);
        return image;
    }
    fitted_text(p, QRect(4, 6, 40, 36), tool.label, 16);
    return image;
}

struct Board {
    const char* name;    // file name stem
    const char* title;   // label on the picture
    const char* device;  // the FPGA's part
};

const Board kBoards[] = {
    {"kb2201", "KB2201", "Spartan-6 LX"},       {"kb2202", "KB2202", "Spartan-6 LXT"},
    {"kb2203", "KB2203", "Artix-7 XC7A100T"},   {"kb2205", "KB2205", "Spartan-7 XC7S50"},
    {"lumenk", "LUMEN-K", "Kintex-7 XC7K160T"},
};

const QColor kBoardGreen(0x1E, 0x6B, 0x3A);
const QColor kChip(0x22, 0x22, 0x26);
const QColor kHighlight(0xFF, 0xD7, 0x40);

// A drawn board: the FPGA in the middle, the configuration flash beside it, a USB socket and
// a pin header. `flash_side` highlights the flash (the SPI ROM target).
QImage board_image(const Board& board, bool flash_side) {
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(QColor(0xF4, 0xF4, 0xF4));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kBoardGreen.darker(150), 2));
    p.setBrush(kBoardGreen);
    p.drawRoundedRect(QRectF(10, 10, 280, 180), 10, 10);
    p.setBrush(QColor(0xD8, 0xD8, 0xD8));
    for (QPointF hole : {QPointF(24, 24), QPointF(276, 24), QPointF(24, 176), QPointF(276, 176)}) {
        p.drawEllipse(hole, 5, 5);
    }
    // USB socket on the left edge, pin header along the bottom.
    p.setBrush(QColor(0xB0, 0xB4, 0xBA));
    p.drawRect(QRectF(4, 80, 30, 36));
    p.setBrush(QColor(0x10, 0x10, 0x10));
    for (int pin = 0; pin < 14; ++pin) p.drawRect(QRectF(70 + pin * 12, 166, 8, 8));
    // The FPGA.
    p.setPen(QPen(flash_side ? kChip.lighter(250) : QColor(0xC0, 0xC0, 0xC0), 1));
    p.setBrush(flash_side ? kChip.lighter(200) : kChip);
    const QRectF fpga(96, 44, 100, 100);
    p.drawRect(fpga);
    p.setPen(Qt::white);
    fitted_text(p, fpga.adjusted(6, 20, -6, -50).toRect(), "FPGA", 18);
    p.setFont(bold(10));
    p.drawText(fpga.adjusted(4, 52, -4, -8), Qt::AlignCenter | Qt::TextWordWrap, board.device);
    // The SPI configuration flash.
    const QRectF flash(216, 70, 50, 30);
    p.setPen(QPen(flash_side ? kHighlight : QColor(0x90, 0x90, 0x90), flash_side ? 3 : 1));
    p.setBrush(kChip);
    p.drawRect(flash);
    p.setPen(Qt::white);
    p.setFont(bold(9));
    p.drawText(flash, Qt::AlignCenter, "SPI ROM");
    if (flash_side) {
        p.setPen(QPen(kHighlight, 2, Qt::DashLine));
        p.drawLine(QPointF(196, 85), QPointF(216, 85));
    }
    // Board name and target.
    p.setPen(Qt::white);
    p.setFont(bold(16));
    p.drawText(QRectF(40, 14, 220, 26), Qt::AlignCenter, board.title);
    p.setFont(bold(11));
    p.setPen(flash_side ? kHighlight : QColor(0xCC, 0xEE, 0xCC));
    p.drawText(QRectF(200, 112, 84, 40), Qt::AlignCenter | Qt::TextWordWrap,
               flash_side ? "target:\nSPI ROM" : "target:\nFPGA");
    return image;
}

QImage message_image(const QString& title, const QString& line, QColor background) {
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(background);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::white);
    p.setFont(bold(24));
    p.drawText(QRect(0, 50, 300, 50), Qt::AlignCenter, title);
    p.setFont(bold(14));
    p.drawText(QRect(0, 110, 300, 40), Qt::AlignCenter, line);
    return image;
}

QImage xvc_image() {
    QImage image = message_image("XVC server", "TCP port 2542", QColor(0x1F, 0x4E, 0x79));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x9C, 0xC8, 0xF0), 3));
    p.setBrush(QColor(0x9C, 0xC8, 0xF0));
    const QPointF nodes[] = {QPointF(90, 30), QPointF(150, 20), QPointF(210, 30)};
    p.drawLine(nodes[0], nodes[1]);
    p.drawLine(nodes[1], nodes[2]);
    for (const QPointF& node : nodes) p.drawEllipse(node, 6, 6);
    return image;
}

bool save(const QImage& image, const QDir& dir, const QString& name, const char* format) {
    if (image.save(dir.filePath(name), format)) return true;
    std::fprintf(stderr, "mkpictures: cannot write %s\n", qPrintable(dir.filePath(name)));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkpictures OUTPUT_DIR\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(".")) return 1;
    bool ok = true;
    for (int i = 0; i < static_cast<int>(std::size(kTools)); ++i) {
        ok = save(tool_image(i), dir, QString("toolbar_%1.png").arg(i, 2, 10, QChar('0')), "PNG") &&
             ok;
    }
    ok = save(tool_image(5).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation), dir,
              "vireopg.png", "PNG") &&
         ok;
    for (const Board& board : kBoards) {
        ok = save(board_image(board, false), dir, QString(board.name) + "a.bmp", "BMP") && ok;
        ok = save(board_image(board, true), dir, QString(board.name) + "b.bmp", "BMP") && ok;
    }
    ok = save(message_image("No board", "connect a board and press Connect",
                            QColor(0x70, 0x78, 0x80)),
              dir, "none.bmp", "BMP") &&
         ok;
    ok = save(xvc_image(), dir, "xvcserver.bmp", "BMP") && ok;
    return ok ? 0 : 1;
}
