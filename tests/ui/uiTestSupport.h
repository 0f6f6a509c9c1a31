#pragma once
// Helpers of the window tests: waiting for workers with a bound, and answering message boxes.

#include "support/testSupport.h"
#include "ui/styledMessageBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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
