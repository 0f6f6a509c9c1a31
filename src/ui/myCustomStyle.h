#pragma once
// The application style: Fusion, drawing nothing for the tab-widget frame.

#include <QProxyStyle>

class myCustomStyle : public QProxyStyle {
public:
    myCustomStyle();
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};
