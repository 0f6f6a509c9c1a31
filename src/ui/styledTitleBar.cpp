#include "ui/styledTitleBar.h"

#include "ui/styledIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>
#include <QWindow>

styledTitleBar::styledTitleBar(QWidget* window, bool mainWindowButtons) : QWidget(window), window_(window) {
    setObjectName("windowTitle");
    setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 2, 2);
    layout->setSpacing(6);
    auto* icon = new QLabel(this);
    icon->setPixmap(halvora::styledIcons::application(16));
    icon->setFixedSize(16, 16);
    title_ = new QLabel(this);
    title_->setObjectName("windowTitle");
    fileName_ = new QLabel(this);
    fileName_->setObjectName("windowTitleFn");
    fileName_->setVisible(false);
    layout->addWidget(icon);
    layout->addWidget(title_);
    layout->addWidget(fileName_);
    layout->addStretch(1);
    auto button = [this, layout](const char* name, QIcon icon, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        b->setIcon(icon);
        b->setToolTip(tip);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
        return b;
    };
    if (mainWindowButtons) {
        minimise_ =
            button("windowTitleButton",
                   halvora::styledIcons::titleButton(halvora::styledIcons::minimiseGlyph), tr("Minimize"));
        resize_ =
            button("windowTitleButton", halvora::styledIcons::titleButton(halvora::styledIcons::resizeGlyph),
                   tr("Maximize / restore"));
        connect(minimise_, &QToolButton::clicked, this, &styledTitleBar::minimiseClicked);
        connect(resize_, &QToolButton::clicked, this, &styledTitleBar::resizeClicked);
    }
    close_ = button("windowTitleButtonX", halvora::styledIcons::titleButton(halvora::styledIcons::closeGlyph),
                    tr("Close"));
    connect(close_, &QToolButton::clicked, this, &styledTitleBar::closeClicked);
}

void styledTitleBar::setTitle(const QString& title) {
    title_->setText(title);
}

void styledTitleBar::setFileName(const QString& fileName) {
    fileName_->setText(fileName);
    fileName_->setVisible(!fileName.isEmpty());
}

QString styledTitleBar::title() const {
    return title_->text();
}

void styledTitleBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // The window system moves the window where it can (Wayland allows nothing else); otherwise the
    // bar follows the pointer itself.
    if (QWindow* handle = window_->windowHandle(); handle && handle->startSystemMove()) {
        event->accept();
        return;
    }
    dragging_ = true;
    grab_ = event->globalPosition().toPoint() - window_->frameGeometry().topLeft();
    event->accept();
}

void styledTitleBar::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    if (window_->isMaximized()) return; // a maximised window stays where it is
    window_->move(event->globalPosition().toPoint() - grab_);
    event->accept();
}

void styledTitleBar::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void styledTitleBar::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit resizeClicked();
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}
