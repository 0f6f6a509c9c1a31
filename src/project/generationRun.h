#pragma once
// One HDR generation run: the stage machine that drives generateHDRworker through automatic
// alignment (stage 1), preparation (stage 2) and generation or LDR enhancement (stage 3), or, for an
// opened radiance picture, its preparation (stage 4). Each stage runs on a fresh worker; the next
// stage starts only after the previous one has finished. The HDR dialog, the window and the automatic
// run share it; it owns no widgets and reports through signals (progress, log lines, messages meant
// for a box, the end of the run).
//
// Created, started and deleted on the main thread; the stage results arrive there queued.

#include "hdr/genHDR_options.h"
#include "project/projectRun.h"

#include <QString>
#include <cstdint>
#include <memory>

class generateHDRworker;

class generationRun : public projectRun {
    Q_OBJECT
public:
    /// A run on `project` with `options` (options.ldrEnhancement: one photo). `radiance`: the project
    /// holds an opened radiance picture, which is only prepared (stage 4). `hidden`: unattended run —
    /// progress lines go to the log and nothing is meant for a message box.
    generationRun(processingProject* project, const genHDR_options& options, bool radiance, bool hidden,
                  const runSettings& settings = runSettings(), QObject* parent = nullptr);
    ~generationRun() override;

    /// Starts at stage 0. A run runs once.
    void start();
    /// The stage counter: 0 before the start, 1 auto alignment, 2 prepare, 3 generate, 4 radiance.
    int stage() const { return stage_; }
    bool hidden() const { return hidden_; }
    const genHDR_options& options() const { return options_; }

    /// Shutdown: cancels the running stage, waits for it and releases it; no signal follows.
    void stopNow() override;

    /// Progress total of the generation stage: 10 × height, + photos × (height + width) for Smart
    /// Merge, + photos × height × 3 with ghost removal, + (width + 2 × height) × 15 with noise
    /// filtering, + height when the HDR file is written. LDR enhancement: the noise term + 1.
    static uint64_t generationProgressTotal(int width, int height, int photos, const genHDR_options& options);

public slots:
    /// Runs the current stage (stage 0 becomes 1, or 4 for a radiance picture).
    void generateHDRslot();
    /// A stage has finished: releases its worker, handles the result and goes on.
    void generateHDRfinished();

signals:
    /// A report for a message box (interactive runs only; hidden runs send logLine instead).
    void message(int kind, QString text);

private:
    void startStage(int stage);
    void fail(const QString& error);
    void report(int kind, const QString& text);

    processingProject* project_;
    genHDR_options options_;
    bool radiance_;
    bool hidden_;
    int stage_ = 0;
    std::unique_ptr<generateHDRworker> worker_;
    bool stageOk_ = false;
};
