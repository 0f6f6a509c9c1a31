#pragma once
// The unattended run (--auto): the whole road from the command line to the saved picture without a
// user — the settings file, loading, the EVs, generation (or an opened radiance picture's
// preparation), preparation for tone mapping, the preview that sets the automatic clip levels, and
// the save. It starts the project's runs one after another and observes them, exactly as the window
// does interactively; it owns no widgets. The window (when there is one) observes it in turn: each
// run it starts is announced with runStarted so progress and "Break" reach that run.
//
// What a person at a terminal sees: with `verbose`, each stage as it starts and ends, with its time,
// on standard error; always, a failure as "halvora: <file>: <reason>".
//
// Created, started and destroyed on the main thread.

#include "imageio/saveResultOptions.h"
#include "project/projectRun.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

struct commandLineOptions;
class processingProject;
class programOptionsSettings;
class loadRun;
class generationRun;
class toneMappingPrepareRun;
class saveRun;

namespace halvora {

/// The save request of an automatic run. File: --output_fn (a bare name goes into --output_dir when
/// given), else a name made from the inputs in --output_dir or the first input's folder. Format by
/// the name's suffix ("tif"/"tiff" → TIFF, else JPEG); --tiff8/--tiff16 set the TIFF depth and
/// --output_to_srgb the sRGB conversion; the rest are the persisted options. An empty fileName with
/// `error` set when the target folder does not exist or cannot be written.
saveResultRequest automaticSaveRequest(const commandLineOptions& options,
                                       const saveResultOptions_t& persisted, const QStringList& inputs,
                                       QString& error);

/// Absolute path of the --save_hdr file, or empty with `error` set when its folder does not exist or
/// cannot be written (an empty option gives an empty path and no error).
QString automaticHdrOutputPath(const commandLineOptions& options, QString& error);

} // namespace halvora

class automaticRun : public QObject {
    Q_OBJECT
public:
    /// A run on `project` (which must outlive it) with the command line's and the options' choices,
    /// copied now: nothing the user changes later reaches the run.
    automaticRun(processingProject& project, const commandLineOptions& commandLine,
                 const programOptionsSettings& options, QObject* parent = nullptr);
    ~automaticRun() override;

    /// Stage lines with their times on standard error (--verbose).
    void setVerbose(bool verbose) { verbose_ = verbose; }
    /// Failure lines on standard error (on by default; tests switch it off).
    void setTerminalReports(bool on) { terminal_ = on; }

    /// Starts the road; finished() follows, once.
    void start();
    bool running() const { return running_; }
    /// The project run working now (for progress and "Break"), or null.
    projectRun* currentRun() const { return current_; }
    /// Shutdown: stops the run working now and waits for it; no signal follows.
    void stopNow();
    /// The saved file once the run has succeeded.
    const QString& savedFile() const { return savedFile_; }

signals:
    /// A project run has started; observers show its progress and may cancel it.
    void runStarted(projectRun* run);
    /// A line for the log (kind: projectRun::reportKind).
    void logLine(int kind, QString text);
    /// The tone-mapping settings file of the command line has been loaded into the project.
    void settingsLoaded();
    /// The photo now at `row` of the project has been loaded.
    void photoLoaded(int row);
    /// The preview has been tone-mapped with the run's settings.
    void previewReady();
    /// The run has ended: exit code 0 after the save, else non-zero with the reason.
    void finished(int exitCode, QString error);

private:
    void loadSettings();
    void loadPhotos();
    void photosLoaded(bool ok, const QString& error);
    void generate();
    void generated(bool ok, const QString& error);
    void prepare();
    void prepared(bool ok, const QString& error);
    void save();
    void saved(bool ok, const QString& error);
    void fail(const QString& error);
    void warn(const QString& text);
    /// Announces a project run and its stage name; the stage's time is measured until the next one.
    void beginStage(projectRun* run, const QString& stage);
    void endStage();
    void terminalLine(const QString& text) const;

    processingProject& project_;
    std::unique_ptr<commandLineOptions> commandLine_;
    runSettings runSettings_;
    saveResultOptions_t persistedSave_;
    bool running_ = false;
    bool verbose_ = false;
    bool terminal_ = true;
    projectRun* current_ = nullptr;
    std::unique_ptr<loadRun> load_;
    std::unique_ptr<generationRun> generation_;
    std::unique_ptr<toneMappingPrepareRun> preparation_;
    std::unique_ptr<saveRun> save_;
    saveResultRequest request_;
    QString hdrOutput_;
    QString savedFile_;
    QString stage_;
    QElapsedTimer stageTimer_;
    QElapsedTimer totalTimer_;
};
