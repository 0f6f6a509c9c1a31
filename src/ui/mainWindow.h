#pragma once
// The one top-level window of a run. Owns the current processingProject, shows the photos, the
// picture and the processing stages, appends coloured lines to its log panel, and starts and observes
// the project's runs (loading, generation, preparation, saving, transforms) — or, in an automatic run,
// observes the automatic run that starts them. Only the main thread touches it.

#include "imageio/imageTransform.h"
#include "imageio/saveResultOptions.h"
#include "project/projectRun.h"
#include "ui/mainImageArea.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

class QComboBox;
class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTextEdit;
class processingProject;
class generateHDR;
class generationRun;
class loadRun;
class saveRun;
class toneMappingPrepareRun;
class transformRun;
class automaticRun;
class checkUpdates;
struct genHDR_options;
struct photoEntry;
class styledMainWindow;
class imageItem;
class toolBox;
class tonemappingGroup;

class mainWindow : public QWidget {
    Q_OBJECT
public:
    /// Log colours, in the order of projectRun::reportKind.
    enum logKind { logInfo, logWarning, logError, logSuccess };

    explicit mainWindow(styledMainWindow* frame);
    ~mainWindow() override;

    processingProject* project() const { return project_.get(); }
    bool startupError() const { return startupError_; }
    bool shutdownDone() const { return shutdownDone_; }
    /// Exit code an unattended run asks for when it failed (0 otherwise).
    int failureExitCode() const { return failureExitCode_; }
    bool resultSaved = false;
    QString lastSavedPath;

    /// Appends one line to the log panel in the colour of its kind.
    void appendLog(logKind kind, const QString& text);
    QString logPanelHtml() const;
    QMenuBar* menuBar() const { return menuBar_; }
    /// True while photos of an add-images action are being loaded.
    bool loadingPhotos() const;
    /// The run whose progress the bar shows and which "Break" cancels, or null.
    projectRun* progressRun() const { return progressRun_; }
    /// Shows `run`'s progress (and, with `logLines`, its log lines) while it runs; "Break" cancels it.
    void observeRun(projectRun* run, bool logLines = true);
    /// What the next run takes from the program options: thread count, panorama mode.
    runSettings currentRunSettings() const;
    /// The filters of the "Add images" dialog, separated by ";;".
    static QString addImagesFilters();
    /// Number of photos whose include box is checked (after the last imageItemChanged).
    int includedPhotos() const { return includedPhotos_; }
    /// The item widget of the photo in list row `row` (null outside the list).
    imageItem* photoItemAt(int row) const;
    imageItem* photoItem(int id) const;

signals:
    void loadOnStartup();
    /// A new, empty project took the place of the old one (views and controls let go of it).
    void projectReplaced();

public slots:
    /// The observed run has started a measured step (progress bar on, "Break" usable).
    void startProgress(uint64_t total);
    void finishProgress();
    void updateProgress();
    void splashFinished();
    /// Asks the version service whether a newer version exists (nothing when no service is set up).
    /// `userStarted`: failures are reported; an automatic check is silent about the network.
    void checkForUpdates(bool userStarted);
    void loadOnStartupSlot();
    /// Prepares the files one after another and starts loading them; an empty list first asks for
    /// files. False when nothing is loaded (a preparation failed, the dialog was cancelled, a load
    /// is already running).
    bool addImages(const QStringList& fileNames);
    bool addImages();
    /// The load run has ended: controls, log, the messages, the EVs.
    void addImagesFinished(bool ok, QString error);
    /// Starts a new project: asks when photos are loaded (unless `justClose`) and replaces the project.
    void newProject(bool justClose);
    void newProject();
    /// Removes the selected photo from the sequence after asking.
    void removeImages();
    /// A photo's include check box changed: every photo's `included` follows its item.
    void imageItemChanged(int id);
    void imageItemStateChanged(int id, int state);
    /// A photo's EV spin box changed: every photo's ev follows its item.
    void evChanged();
    /// EV-step combo: even steps between the photos by brightness.
    void EVmanualSelectSlot(int idx);
    void EVsetFromExifSlot();
    void EVsetFromExifAEBslot();
    /// "Save": to the file of the last save of this result with its options, else as "Save as".
    void saveResultSlot();
    /// "Save as": file dialog, then the result options dialog, then the save worker.
    void saveResultAsSlot();
    void rightTabChanged(int n);
    void showProgramOptions(int tab);
    void showProgramOptions();
    void transformImageSlot();
    void transformImageFinished(bool ok, QString error);
    /// Opens the HDR dialog (photos loaded, nothing running); an opened radiance picture is prepared at once.
    void showGenerateHDR();
    /// A generation run of the window (one photo enhanced at once, opened radiance picture) has ended.
    void generationRunFinished(bool ok, QString error);
    /// Prepares the picture's planes for tone mapping (toneMappingPrepareRun).
    void toneMappingPrepare();
    void toneMappingPrepareFinished(bool ok, QString error);
    /// Tone-maps the preview with the current settings (also sets the automatic clip levels).
    void doToneMapping(bool preset);
    /// Asks for a preview tone mapping; a burst of requests is rendered once, with the latest settings.
    void doToneMapping();
    /// Enables the tone-mapping controls and the view actions for the project's stage.
    void setToneMappingControlsEnabled();
    /// "Photo before processing": the first photo's preview.
    void showBeforeSlot();
    /// "Result": the tone-mapped preview.
    void showResultSlot();
    /// Files dropped on the picture view are added like chosen ones.
    void addDroppedImages(const QStringList& files);
    /// Asks for a settings file and loads it into the interactive record.
    void loadSettingsSlot();
    /// Loads `fileName` into the interactive record and the controls; on failure (error box) the
    /// settings stay as they were. False then.
    bool loadSettingsSlot(const QString& fileName);
    /// Asks for a file name and saves the interactive settings.
    void saveSettingsSlot();
    /// Saves the interactive settings as `fileName` (".hvsx" appended when missing); false (error box).
    bool saveSettingsSlot(const QString& fileName);
    /// Loads the built-in default look.
    void defaultSettingsSlot();
    /// Saves the result with `request` on a save run (full-size tone mapping first).
    void saveResultSlot(const saveResultRequest& request);
    void saveResultFinished(bool ok, QString error);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildUi();
    QWidget* buildPhotoPanel(QWidget* parent);
    bool createProject();
    /// A prepared picture exists and nothing runs: the result can be saved.
    bool resultAvailable() const;
    /// True when an external editor is configured; otherwise offers the options page to set one up.
    bool externalEditorReady();
    /// File names of the photos that made the result.
    QStringList includedPhotoNames() const;
    /// True while any run of this window (or of its HDR dialog, or the automatic run) works.
    bool anyWorkerRunning() const;
    /// Photos, EVs and the picture must not change now: a worker runs, photos load, or the HDR dialog is open.
    bool projectBusy() const;
    void insertPhotoItem(int row, const photoEntry& photo);
    bool evControlsUsable() const;
    /// Enables the photo list's controls for the photos loaded now.
    void updatePhotoControls();
    /// Shows every photo's EV; `renormalise` first re-bases the EVs and drops the response curve.
    void refreshPhotoList(bool renormalise);
    void setEVbuttons(bool exif, bool aeb, int comboIndex);
    /// After a load: EVs from EXIF, else AEB, else even steps (with the warning of missing EXIF data).
    void assignEVsAfterLoading();
    void buildMenus();
    void startTransform(int mode, const halvora::cropRect& rect);
    void setControlsEnabled(bool enabled);
    /// Stops every run of the window and waits for it (shutdown).
    void stopRuns();
    /// The shutdown's record of the long operations still present, one line each.
    void logRuns();
    /// Starts the automatic run (--auto) on the project and observes it.
    void startAutomaticRun();
    /// The automatic run has ended: its exit code, then the window closes.
    void automaticRunFinished(int exitCode, QString error);
    /// Runs the generation stages with `options` (radiance: prepares the opened radiance picture).
    void startGenerationRun(const genHDR_options& options, bool radiance);
    /// The photo now at `row` of the project has been loaded: its item joins the list.
    void photoLoaded(int row);
    /// Builds the "Generate HDR" page of the right tabs.
    void buildGeneratePage(QWidget* page);
    /// Adds "Generate HDR" (Ctrl+G) to the File menu.
    void addGenerateHDRaction(QMenu* file);
    /// Enables "Generate HDR" when photos are loaded and nothing runs.
    void updateGenerateHDRenabled();
    /// Shutdown: stops a generation still running and closes the HDR dialog.
    void endGenerationRun();
    /// Shows the first photo in the picture view (after a failed generation left no picture).
    void showFirstPhoto();
    void generationLogLine(int kind, const QString& text);
    void buildToneMappingTab();
    /// Adds the settings actions to "File" (before `before`) and the "View" menu.
    void buildToneMappingMenus(QMenu* file, QAction* before);
    /// Points the tone-mapping controls at the current project's record and shows its values.
    void attachToneMappingControls();

    styledMainWindow* frame_;
    std::unique_ptr<processingProject> project_;
    bool startupError_ = false;
    bool shutdownDone_ = false;
    int failureExitCode_ = 0;

    QMenuBar* menuBar_ = nullptr;
    QTabWidget* leftTabs_ = nullptr;
    QTabWidget* rightTabs_ = nullptr;
    mainImageArea* pictureView_ = nullptr;
    QListWidget* photoList_ = nullptr;
    QTextEdit* logPanel_ = nullptr;
    QLabel* ldrLabel_ = nullptr;
    QPushButton* exifButton_ = nullptr;
    QPushButton* aebButton_ = nullptr;
    QComboBox* evStepCombo_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QAction* removeAction_ = nullptr;
    QAction* saveAction_ = nullptr;
    QAction* saveAsAction_ = nullptr;
    int includedPhotos_ = 0;
    saveResultRequest lastSaveRequest_; ///< the last successful save of this result ("Save" repeats it)
    QProgressBar* progressBar_ = nullptr;
    QPushButton* breakButton_ = nullptr;
    QTimer progressTimer_;
    QList<QAction*> transformActions_;

    bool closing_ = false;
    std::unique_ptr<loadRun> loadRun_;
    std::unique_ptr<generationRun> generationRun_; ///< a run the window started (one photo, radiance)
    std::unique_ptr<toneMappingPrepareRun> prepareRun_;
    std::unique_ptr<saveRun> saveRun_;
    std::unique_ptr<transformRun> transformRun_;
    std::unique_ptr<automaticRun> automaticRun_;
    QPointer<projectRun> progressRun_; ///< the run the bar shows and "Break" cancels
    QPointer<generateHDR> hdrDialog_;
    QAction* generateHdrAction_ = nullptr;
    QPushButton* generateHdrButton_ = nullptr;
    tonemappingGroup* tmGroup_ = nullptr;
    toolBox* tmToolBox_ = nullptr;
    QTimer toneMappingTimer_; ///< collects preview requests into one render
    QAction* showBeforeAction_ = nullptr;
    std::unique_ptr<checkUpdates> updateCheck_;
    QAction* showResultAction_ = nullptr;
};
