#include "project/projectRun.h"

projectRun::projectRun(const runSettings& settings, QObject* parent)
    : QObject(parent), settings_(settings), context_(settings.threads, settings.panoramaMode) {}

projectRun::~projectRun() {
    stopNow();
}

void projectRun::stopNow() {
    context_.cancel();
    thread_.wait();
    running_ = false;
    // The thread's report may still be queued: it must find nothing to finish.
    thread_.disconnect(this);
}

bool projectRun::start(uint64_t progressTotal, std::function<bool(QString& error)> work) {
    if (!markStarted()) return false;
    workOk_ = false;
    workError_.clear();
    beginProgress(progressTotal);
    connect(&thread_, &halvora::workerThread::finished, this, &projectRun::workDone, Qt::UniqueConnection);
    // The work writes only the run's own result fields; they are read after the thread has ended.
    thread_.start(context_, [this, work = std::move(work)] {
        QString error;
        workOk_ = work(error);
        workError_ = error;
    });
    return true;
}

bool projectRun::markStarted() {
    if (started_ || thread_.running()) return false;
    started_ = running_ = true;
    return true;
}

void projectRun::workDone() {
    if (!running_) return;
    // Work that finished before a late "Break" has done its job: its result stands.
    const bool ok = workOk_;
    QString error = workError_;
    if (!ok && error.isEmpty())
        error = context_.cancelled() ? QStringLiteral("Aborted.") : QStringLiteral("The operation failed.");
    finish(ok, ok ? QString() : error);
}

void projectRun::beginProgress(uint64_t total) {
    context_.startProgress(total);
    emit startProgress(context_.progressTotal());
}

void projectRun::finish(bool ok, const QString& error) {
    running_ = false;
    emit finishProgress();
    emit finished(ok, error);
}
