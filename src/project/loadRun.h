#pragma once
// The run that loads photos into a project: every file is prepared first, one after another on the
// main thread (format, size, sequence rules, the radiance load options), then loaded in waves of
// load workers, each on a thread of its own with a full-size decode buffer (the first two borrow
// the project's display and radiance stores). A loaded photo joins project.photos in the order the
// files were given; observers hear of each one (photoLoaded) and of each failure (loadFailed).
//
// Created, started and destroyed on the main thread; the workers' reports arrive there queued.

#include "project/projectRun.h"

#include <QStringList>
#include <array>
#include <deque>
#include <memory>

class loadPhotoWorker;
class pyramid;
struct photoEntry;

class loadRun : public projectRun {
    Q_OBJECT
public:
    static constexpr int kMaxWorkers = 32;

    loadRun(processingProject& project, const runSettings& settings, QObject* parent = nullptr);
    ~loadRun() override;

    /// Prepares `files` in order before anything is loaded; the first failure ends the preparation
    /// and nothing is loaded. False with `error` set ("<reason>: <file>."), or with an empty `error`
    /// when the preparation was cancelled silently (a load-options dialog closed by the user).
    bool prepare(const QStringList& files, QString& error);
    /// Starts loading the prepared photos; a project that held a picture loses it (the first two
    /// workers decode into its stores). False when nothing was prepared or the run was started before.
    bool start();

    /// Photos asked for, and how many of them failed (final once finished() was emitted).
    int requested() const { return requested_; }
    int failed() const { return failed_; }
    /// The failure texts of this run, in the order they happened.
    const QStringList& failures() const { return failures_; }

    /// Writes the 32 worker slots to the debug log ("loadPhoto.worker[%d]=%p"), for the shutdown's record.
    void logWorkers() const;
    /// Shutdown: pending photos are dropped, running workers cancelled and waited for; no signal follows.
    void stopNow() override;

    /// Starts the next wave of load workers on the pending photos.
    void addImagesStartThreads();
    /// A load worker's report (queued to the main thread).
    void addImagesFinished(int status, QString errorMsg, int workerId);

signals:
    /// The photo now at `row` of project.photos has been loaded.
    void photoLoaded(int row);
    /// A photo could not be loaded; `text` names the file and the reason.
    void loadFailed(QString text);

private:
    struct workerSlot {
        std::unique_ptr<halvora::workerThread> thread;
        std::unique_ptr<loadPhotoWorker> worker;
        std::unique_ptr<pyramid> buffer; ///< own decode buffer of workers 2 … 31
    };
    void reportFailure(const QString& text);
    void releaseSlot(workerSlot& slot);
    bool anyWorkerRunning() const;
    void done();

    processingProject& project_;
    std::deque<std::unique_ptr<photoEntry>> pending_;
    std::array<workerSlot, kMaxWorkers> slots_;
    int requested_ = 0;
    int failed_ = 0;
    QStringList failures_;
    bool stopping_ = false;
};
