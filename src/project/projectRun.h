#pragma once
// A long operation on a processing project, run on a thread of its own with a context of its own.
// The window, the automatic run and the batch run all start runs and observe them the same way:
// progress through startProgress/finishProgress and the run's context, lines for the log through
// logLine, the end through finished. "Break" cancels one run (cancel()); the shutdown stops every run
// with stopNow(), which waits for the work to end — a thread is never terminated.
//
// Created, started, observed and destroyed on the main thread. The work itself runs on the run's
// thread with the run's context bound; the project must not change until finished() (or stopNow()).

#include "base/runContext.h"
#include "base/workerThread.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class processingProject;

/// What a run takes from the program's settings when it is created (values, never the options
/// store itself, so workers never read state the user may be changing).
struct runSettings {
    int threads = 0;           ///< most threads a pixel loop may use (0: the process default)
    bool panoramaMode = false; ///< the picture wraps around left/right (a 360° panorama)
};

class projectRun : public QObject {
    Q_OBJECT
public:
    /// Kinds of log lines; the order of the main window's log colours.
    enum reportKind { info = 0, warning = 1, error = 2, success = 3 };

    explicit projectRun(const runSettings& settings, QObject* parent = nullptr);
    /// Stops work still running (see stopNow).
    ~projectRun() override;

    /// The run's cancel flag, progress and thread count; observers read the progress from it.
    halvora::runContext& context() { return context_; }
    const halvora::runContext& context() const { return context_; }
    const runSettings& settings() const { return settings_; }
    /// True from a successful start until finished() was emitted or stopNow() returned.
    bool running() const { return running_; }
    /// Asks this run, and no other, to stop at its next poll; it then finishes as failed ("Aborted.").
    void cancel() { context_.cancel(); }
    /// Shutdown: cancels, waits for the work to end and forgets it; no signal follows.
    virtual void stopNow();

    /// Starts `work` on the run's thread with `progressTotal` as the progress total. `work` returns
    /// success and writes the reason of a failure into its argument. A run runs once (its context's
    /// cancel flag stays set after a Break): false when it has been started before.
    bool start(uint64_t progressTotal, std::function<bool(QString& error)> work);

signals:
    /// A measured step has started; its total is in context().
    void startProgress(uint64_t total);
    void finishProgress();
    /// A line for the log (kind: reportKind).
    void logLine(int kind, QString text);
    /// The run has ended; `error` says why it failed (empty on success).
    void finished(bool ok, QString error);

protected:
    /// Sets a new progress total and tells the observers.
    void beginProgress(uint64_t total);
    /// Ends the run: running() turns false, then finishProgress() and finished(ok, error).
    void finish(bool ok, const QString& error);
    /// The thread the work runs on (derived runs with several steps start them here).
    halvora::workerThread& thread() { return thread_; }
    /// Marks the run started (once only) and running; false when it was started before.
    bool markStarted();

private:
    void workDone();

    runSettings settings_;
    halvora::runContext context_;
    halvora::workerThread thread_;
    bool running_ = false;
    bool started_ = false;
    bool workOk_ = false;
    QString workError_;
};
