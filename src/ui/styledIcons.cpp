#include "ui/styledIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace halvora::styledIcons {
namespace {

QPixmap canvas(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace

QPixmap application(int size) {
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(size / 2.0, size / 2.0);
    const double r = size * 0.47;
    // Six blades from dark to bright, like the frames of a bracket.
    for (int i = 0; i < 6; ++i) {
        const double a0 = qDegreesToRadians(60.0 * i - 90.0), a1 = qDegreesToRadians(60.0 * (i + 1) - 90.0);
        QPainterPath blade;
        blade.moveTo(c + QPointF(std::cos(a0), std::sin(a0)) * r * 0.35);
        blade.lineTo(c + QPointF(std::cos(a0), std::sin(a0)) * r);
        blade.lineTo(c + QPointF(std::cos(a1), std::sin(a1)) * r);
        blade.closeSubpath();
        const int v = 70 + 30 * i;
        p.fillPath(blade, QColor(v, qMin(255, v + 25), qMin(255, v + 60)));
    }
    p.setPen(QPen(QColor(230, 230, 230), qMax(1.0, size / 16.0)));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r, r);
    return pixmap;
}

QPixmap message(messageKind kind, int size) {
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(size * 0.06, size * 0.06, size * 0.88, size * 0.88);
    QColor fill;
    QString mark;
    switch (kind) {
    case informationIcon:
        fill = QColor(0x3f, 0x7f, 0xbf);
        mark = "i";
        break;
    case warningIcon:
        fill = QColor(0xc8, 0xa0, 0x30);
        mark = "!";
        break;
    case errorIcon:
        fill = QColor(0xc0, 0x40, 0x40);
        mark = QString(QChar(0x00D7));
        break;
    case confirmationIcon:
        fill = QColor(0x4a, 0x90, 0x4a);
        mark = "?";
        break;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    if (kind == warningIcon) {
        QPainterPath triangle;
        triangle.moveTo(box.center().x(), box.top());
        triangle.lineTo(box.right(), box.bottom());
        triangle.lineTo(box.left(), box.bottom());
        triangle.closeSubpath();
        p.drawPath(triangle);
    } else {
        p.drawEllipse(box);
    }
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(int(size * 0.55));
    p.setFont(font);
    p.setPen(kind == warningIcon ? QColor(0x20, 0x20, 0x20) : QColor(Qt::white));
    p.drawText(box.adjusted(0, kind == warningIcon ? size * 0.15 : 0, 0, 0), Qt::AlignCenter, mark);
    return pixmap;
}

QIcon titleButton(glyph g) {
    QIcon icon;
    for (const QColor& colour : {QColor(0xd0, 0xd0, 0xd0), QColor(Qt::white)}) {
        QPixmap pixmap = canvas(16);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(colour, 1.6));
        switch (g) {
        case minimiseGlyph:
            p.drawLine(QPointF(4, 11.5), QPointF(12, 11.5));
            break;
        case resizeGlyph:
            p.drawRect(QRectF(4.5, 4.5, 7, 7));
            break;
        case closeGlyph:
            p.drawLine(QPointF(4.5, 4.5), QPointF(11.5, 11.5));
            p.drawLine(QPointF(11.5, 4.5), QPointF(4.5, 11.5));
            break;
        }
        p.end();
        icon.addPixmap(pixmap, colour == Qt::white ? QIcon::Active : QIcon::Normal);
    }
    return icon;
}

} // namespace halvora::styledIcons
