#pragma once
// One HDR generation run: the stage machine that drives generateHDRworker through automatic
// alignment (stage 1), preparation (stage 2) and generation or LDR enhancement (stage 3), or, for an
// opened radiance picture, its preparation (stage 4). Each stage runs on a fresh worker in a fresh
// thread; the next stage starts only after the previous worker has finished. The HDR dialog and the
// automatic run share it; it owns no widgets and reports through signals (progress, log lines,
// messages meant for a box, the end of the run).
//
// Created, started and deleted on the main thread; the stage results arrive there queued.

#include "hdr/genHDR_options.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class QThread;
class generateHDRworker;
class processingProject;

class generationRun : public QObject {
    Q_OBJECT
public:
    /// Kinds of reports; the same order as the main window's log colours.
    enum reportKind { info = 0, warning = 1, error = 2, success = 3 };

    /// A run on `project` with `options` (options.ldrEnhancement: one photo). `radiance`: the project
    /// holds an opened radiance picture, which is only prepared (stage 4). `hidden`: unattended run —
    /// progress lines go to the log and nothing is meant for a message box.
    generationRun(processingProject* project, const genHDR_options& options, bool radiance, bool hidden,
                  QObject* parent = nullptr);
    /// Stops a stage still running (see stopNow).
    ~generationRun() override;

    /// Starts at stage 0 (resets abortRequested: an earlier "Break" does not stop this run).
    void start();
    /// True from start() until finished() was emitted or stopNow() returned.
    bool running() const { return running_; }
    /// The stage counter: 0 before the start, 1 auto alignment, 2 prepare, 3 generate, 4 radiance.
    int stage() const { return stage_; }
    bool hidden() const { return hidden_; }
    const genHDR_options& options() const { return options_; }

    /// Shutdown: asks the running stage to stop (abortRequested), waits up to `waitMs` for its thread
    /// and, as the last resort, terminates it. No signal is emitted afterwards.
    void stopNow(int waitMs);

    /// Progress total of the generation stage: 10 × height, + photos × (height + width) for Smart
    /// Merge, + photos × height × 3 with ghost removal, + (width + 2 × height) × 15 with noise
    /// filtering, + height when the HDR file is written. LDR enhancement: the noise term + 1.
    static uint64_t generationProgressTotal(int width, int height, int photos, const genHDR_options& options);

public slots:
    /// Runs the current stage (stage 0 becomes 1, or 4 for a radiance picture).
    void generateHDRslot();
    /// A stage's worker has finished: releases it, handles the result and goes on.
    void generateHDRfinished(bool ok);

signals:
    void startProgress(uint64_t total);
    void finishProgress();
    /// A line for the log panel (kind: reportKind).
    void logLine(int kind, QString text);
    /// A report for a message box (interactive runs only; hidden runs send logLine instead).
    void message(int kind, QString text);
    /// The run has ended; `error` says why it failed (empty on success).
    void finished(bool ok, QString error);

private:
    void startStage(int stage);
    void releaseStage();
    void fail(const QString& error);
    void report(int kind, const QString& text);

    processingProject* project_;
    genHDR_options options_;
    bool radiance_;
    bool hidden_;
    bool running_ = false;
    int stage_ = 0;
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<generateHDRworker> worker_;
};
