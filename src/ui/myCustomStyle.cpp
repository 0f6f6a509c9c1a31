#include "ui/myCustomStyle.h"

#include <QStyleFactory>

myCustomStyle::myCustomStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}

void myCustomStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    if (element == PE_FrameTabWidget) return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}
