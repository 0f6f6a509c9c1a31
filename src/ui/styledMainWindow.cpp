#include "ui/styledMainWindow.h"

#include "base/appIdentity.h"
#include "ui/mainWindow.h"

#include <QCloseEvent>

styledMainWindow::styledMainWindow(QWidget* parent) : QMainWindow(parent) { setObjectName("windowFrame"); }

void styledMainWindow::setMainWindow(mainWindow* w) {
    main_ = w;
    setCentralWidget(w);
}

void styledMainWindow::setTitleFileName(const QString& fileName) {
    const QString app = QStringLiteral("%1 %2").arg(halvora::kApplicationName, halvora::kApplicationVersion);
    setWindowTitle(fileName.isEmpty() ? app : QStringLiteral("%1 - %2").arg(fileName, app));
}

void styledMainWindow::toggleSize() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void styledMainWindow::closeEvent(QCloseEvent* event) {
    // The main window runs the ordered shutdown (and may refuse it); the frame closes only after it.
    if (main_ && !main_->shutdownDone())
        main_->close();
    if (main_ && !main_->shutdownDone()) {
        event->ignore();
        return;
    }
    event->accept();
}
