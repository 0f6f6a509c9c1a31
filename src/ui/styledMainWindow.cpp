#include "ui/styledMainWindow.h"

#include "base/appIdentity.h"
#include "ui/mainWindow.h"
#include "ui/styledIcons.h"
#include "ui/styledTitleBar.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QSizeGrip>
#include <QVBoxLayout>

styledMainWindow::styledMainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("windowFrame");
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setWindowIcon(QIcon(halvora::styledIcons::application(64)));
    auto* frame = new QWidget(this);
    frame->setObjectName("windowFrameBody");
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    titleBar_ = new styledTitleBar(this, true);
    layout->addWidget(titleBar_);
    body_ = new QWidget(frame);
    auto* bodyLayout = new QVBoxLayout(body_);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(body_, 1);
    // A frameless window has no border to drag: the grip in the corner resizes it.
    auto* gripRow = new QHBoxLayout;
    gripRow->setContentsMargins(0, 0, 0, 0);
    gripRow->addStretch(1);
    gripRow->addWidget(new QSizeGrip(frame), 0, Qt::AlignBottom | Qt::AlignRight);
    layout->addLayout(gripRow);
    setCentralWidget(frame);
    connect(titleBar_, &styledTitleBar::minimiseClicked, this, &QWidget::showMinimized);
    connect(titleBar_, &styledTitleBar::resizeClicked, this, &styledMainWindow::toggleSize);
    connect(titleBar_, &styledTitleBar::closeClicked, this, &QWidget::close);
}

void styledMainWindow::setMainWindow(mainWindow* w) {
    main_ = w;
    w->setParent(body_);
    body_->layout()->addWidget(w);
}

void styledMainWindow::setTitleFileName(const QString& fileName) {
    const QString app = QStringLiteral("%1 %2").arg(halvora::kApplicationName, halvora::kApplicationVersion);
    setWindowTitle(fileName.isEmpty() ? app : QStringLiteral("%1 - %2").arg(fileName, app));
    titleBar_->setTitle(app);
    titleBar_->setFileName(fileName);
}

void styledMainWindow::toggleSize() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void styledMainWindow::closeEvent(QCloseEvent* event) {
    // The main window runs the ordered shutdown (and may refuse it); the frame closes only after it.
    if (main_ && !main_->shutdownDone()) main_->close();
    if (main_ && !main_->shutdownDone()) {
        event->ignore();
        return;
    }
    event->accept();
}
