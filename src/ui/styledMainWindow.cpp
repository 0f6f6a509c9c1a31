#include "ui/styledMainWindow.h"

#include "app/appIdentity.h"
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
    // The main window runs the ordered shutdown; the frame closes for good only once it is done.
    if (main_ && !main_->shutdownDone()) {
        event->ignore();
        main_->close();
        return;
    }
    event->accept();
}
