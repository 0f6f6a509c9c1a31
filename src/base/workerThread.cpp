#include "base/workerThread.h"

#include "base/runContext.h"

#include <QThread>

namespace halvora {

workerThread::workerThread(QObject* parent) : QObject(parent) {}

workerThread::~workerThread() {
    wait();
}

bool workerThread::start(runContext& context, std::function<void()> body) {
    if (running()) return false;
    if (thread_) thread_->wait(); // ended, its finished() not yet delivered: that report is dropped below
    thread_.reset(QThread::create([&context, body = std::move(body)] {
        runContext::scope bind(context);
        body();
    }));
    QThread* started = thread_.get();
    // Queued: the report reaches the owner's thread after the body returned; a report of a thread
    // that has been replaced meanwhile is dropped.
    connect(
        started, &QThread::finished, this,
        [this, started] {
            if (thread_.get() != started) return;
            thread_->wait();
            thread_.reset();
            emit finished();
        },
        Qt::QueuedConnection);
    thread_->start();
    return true;
}

bool workerThread::running() const {
    return thread_ && !thread_->isFinished();
}

void workerThread::wait() {
    if (thread_) thread_->wait();
}

} // namespace halvora
