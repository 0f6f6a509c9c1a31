#include "ui/toolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace halvora::toolIcons {
namespace {

constexpr int kSize = 32; // drawn large, scaled down by the buttons
const QColor kInk(0xd8, 0xd8, 0xd8);
const QColor kOutline(0x30, 0x30, 0x30); // keeps the light strokes visible on light buttons too

// A stroke drawn twice, dark and wide under light and narrow, so it reads on any background.
template <class Draw> void outlined(QPainter& p, double width, Draw draw) {
    p.setPen(QPen(kOutline, width + 2.5, Qt::SolidLine, Qt::RoundCap));
    draw();
    p.setPen(QPen(kInk, width, Qt::SolidLine, Qt::RoundCap));
    draw();
}

QPixmap padlockPixmap(bool shut) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // The shackle: shut, both legs reach the body; open, it is lifted and turned aside.
    const QRectF shackle = shut ? QRectF(9, 3, 14, 16) : QRectF(9, -3, 14, 16);
    outlined(p, 3, [&] {
        p.drawArc(shackle, 0, 180 * 16);
        p.drawLine(QPointF(shackle.right(), shackle.center().y()), QPointF(shackle.right(), 15));
        // Open, the left leg hangs free above the body.
        p.drawLine(QPointF(shackle.left(), shackle.center().y()), QPointF(shackle.left(), shut ? 15 : 9));
    });
    p.setPen(QPen(kOutline, 1.5));
    p.setBrush(shut ? QColor(0xd0, 0xb0, 0x50) : kInk);
    p.drawRoundedRect(QRectF(5, 14, 22, 16), 3, 3);
    return pixmap;
}

} // namespace

QIcon padlock() {
    QIcon icon;
    icon.addPixmap(padlockPixmap(false), QIcon::Normal, QIcon::Off);
    icon.addPixmap(padlockPixmap(true), QIcon::Normal, QIcon::On);
    return icon;
}

QIcon eyedropper(const QColor& tip) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A bulb at the top right, a glass tube down to the tip at the bottom left.
    p.setPen(QPen(kOutline, 1.5));
    p.setBrush(kInk);
    p.drawEllipse(QRectF(20, 2, 10, 10));
    outlined(p, 4, [&] { p.drawLine(QPointF(22, 10), QPointF(8, 24)); });
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1));
    p.setBrush(tip);
    p.drawEllipse(QRectF(1, 23, 9, 9));
    return QIcon(pixmap);
}

} // namespace halvora::toolIcons
