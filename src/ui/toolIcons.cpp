#include "ui/toolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace toolIcons {
namespace {

constexpr int kSize = 32; // drawn large, scaled down by the buttons
const QColor kInk(0xd8, 0xd8, 0xd8);

QPixmap padlockPixmap(bool shut) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 3));
    // The shackle: shut, both legs reach the body; open, it is lifted and turned aside.
    const QRectF shackle = shut ? QRectF(9, 3, 14, 16) : QRectF(15, 0, 14, 16);
    p.drawArc(shackle, 0, 180 * 16);
    p.drawLine(QPointF(shackle.left(), shackle.center().y()), QPointF(shackle.left(), 15));
    if (shut) p.drawLine(QPointF(shackle.right(), shackle.center().y()), QPointF(shackle.right(), 15));
    p.setPen(Qt::NoPen);
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
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QRectF(20, 2, 10, 10));
    p.setPen(QPen(kInk, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 10), QPointF(8, 24));
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1));
    p.setBrush(tip);
    p.drawEllipse(QRectF(1, 23, 9, 9));
    return QIcon(pixmap);
}

} // namespace toolIcons
