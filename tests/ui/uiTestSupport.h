#pragma once
// Helpers of the window tests: waiting for workers with a bound, answering message boxes, finding
// menu actions and measuring pictures.

#include "support/testSupport.h"
#include "ui/styledMessageBox.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMenuBar>
#include <QStringList>
#include <QThread>

namespace halvora::test {

/// Runs the event loop until `done()` holds or `limitMs` passed; the last answer of `done()`.
template <class Done> bool waitUntil(Done done, int limitMs = 60000) {
    QElapsedTimer guard;
    guard.start();
    while (!done() && guard.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return done();
}

/// The action with the text `text` in the menu bar of `window` (the main window), or null.
template <class Window> QAction* menuAction(Window& window, const QString& text) {
    const QMenuBar* bar = window.menuBar();
    for (QAction* a : bar->findChildren<QAction*>())
        if (a->text() == text) return a;
    return nullptr;
}

/// Mean of every colour sample of `image` (0 … 255), 0 for an empty picture.
inline double meanLevel(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int y = 0; y < rgb.height(); ++y)
        for (int i = 0; i < rgb.width() * 3; ++i)
            sum += rgb.constScanLine(y)[i];
    return rgb.isNull() ? 0.0 : sum / (double(rgb.width()) * rgb.height() * 3);
}

/// Puts back the guard that answers any message box a test did not expect (a box must never wait for
/// a user in a test run): it prints the box to stderr and answers Yes. The test main installs it;
/// recorders call this when they end.
void restoreBoxGuard();

/// Records every message box instead of showing it and answers questions with `answer`.
struct boxRecorder {
    explicit boxRecorder(bool yes = true) : answer(yes) {
        styledMessageBox::setRecorder([this](styledMessageBox::kind k, const QString& text) {
            kinds << k;
            texts << text;
            return answer;
        });
    }
    ~boxRecorder() { halvora::test::restoreBoxGuard(); }
    boxRecorder(const boxRecorder&) = delete;
    boxRecorder& operator=(const boxRecorder&) = delete;
    bool answer;
    QList<styledMessageBox::kind> kinds;
    QStringList texts;
};

} // namespace halvora::test
