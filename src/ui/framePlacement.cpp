#include "ui/framePlacement.h"

#include <algorithm>

namespace halvora {

QRect centredDefaultRect(const QRect& area) {
    return QRect(area.left() + (area.width() - 800) / 2, area.top() + (area.height() - 570) / 2, 800, 570);
}

framePlacement placeFrame(const QRect& saved, bool maximized, const QRect& available, const QRect& full) {
    framePlacement p;
    if (maximized) {
        QRect a = available;
        if (a.height() == full.height()) a.setHeight(a.height() - 1);
        p.frame = a;
        p.maximized = true;
        p.restore = centredDefaultRect(a);
        return p;
    }
    const int left = std::max(saved.left(), available.left()), top = std::max(saved.top(), available.top());
    const int right1 = std::min(saved.right() + 1, available.right() + 1);
    const int bottom1 = std::min(saved.bottom() + 1, available.bottom() + 1);
    p.intersection = QRect(QPoint(left, top), QPoint(right1 - 1, bottom1 - 1));
    const int w = right1 - left, h = bottom1 - top;
    p.frame =
        (w < 100 || h < 100 || saved.top() < available.top() - 5) ? centredDefaultRect(available) : saved;
    return p;
}

} // namespace halvora
