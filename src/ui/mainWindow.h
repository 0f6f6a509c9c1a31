#pragma once
// The one top-level window of a run. Owns the current processingProject, shows the photos, the
// picture and the processing stages, appends coloured lines to its log panel, and starts and observes
// the project's runs (loading, generation, preparation, saving, transforms) — or, in an automatic run,
// observes the automatic run that starts them. Only the main thread touches it.

#include "base/rgbDouble.h"
#include "imageio/imageTransform.h"
#include "imageio/saveResultOptions.h"
#include "project/projectRun.h"
#include "ui/mainWorkspace.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

class QBoxLayout;
class exiftoolDaemon;
class QCheckBox;
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
struct projectColorSettings_t;
namespace halvora {
struct colorSetupResult_t;
}
class generateHDR;
class generationRun;
class loadRun;
class saveRun;
class saveAlignedRun;
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
class zoomWidget;
class toneCurveTool;
class histogramTool;
class colorSaturationGroup;
class colorAdjustGroup;
class colorSettingsMenu;

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
    colorSettingsMenu* colorMenu() const { return colorMenu_; }
    /// Asks for the monitor profile file of "From file…" (a file dialog; tests replace it). Empty when
    /// the user cancelled.
    std::function<QString()> chooseMonitorProfileFile;
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
    mainWorkspace* workspace() const { return workspace_; }
    /// What the workspace shows: nothing, an input photo (shownPhotoId()) or the tone-mapped result.
    enum shownKind { shownNothing, shownPhoto, shownResult };
    shownKind shown() const { return shown_; }
    int shownPhotoId() const { return shownPhotoId_; }

    /// Where a sample comes from (the `src` of sampleTakenSlot): the shown result or the radiance picture.
    enum sampleSource { sampleFromResult = 0, sampleFromInput = 1 };
    /// The sample mode an eyedropper asked for (0 none, 1 black point, 2 white point, 3 white balance).
    int sampleMode() const { return sampleMode_; }
    /// The file "Open in external editor" writes: the session folder's "Halvora_export.tif".
    QString externalEditorExportName() const;
    /// Language codes of the Language menu, in the order of its entries.
    static QStringList languageCodes();

    /// The session's metadata tool (never null after construction).
    exiftoolDaemon* metadataTool() const { return exiftool_.get(); }

signals:
    void loadOnStartup();
    /// A new, empty project took the place of the old one (views and controls let go of it).
    void projectReplaced();
    /// A sample was taken for a tool (mode 1 black point, 2 white point, 3 white balance); `src` 0
    /// the shown result, 1 the input HDR picture.
    void sampleReady(int mode, int src, rgbDouble_t sampleValue);

public slots:
    /// The observed run has started a measured step (progress bar on, "Break" usable).
    void startProgress(uint64_t total);
    void finishProgress();
    void updateProgress();
    void splashFinished();
    /// The metadata tool is missing or did not start: the log says once what this disables.
    void notifyAboutExiftoolError();
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
    /// "Photo before processing": the photo selected in the list (the first one when none is).
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
    /// Crops the project to `rect` (picture coordinates) on a transform run.
    void applyCrop(halvora::cropRect rect);
    /// "Crop": enters crop mode, or leaves it without cropping.
    void toggleCropMode();
    /// Puts the workspace into sample mode for a tool (`mode` 1 … 3), or leaves it (0); the
    /// eyedroppers follow through requestSampleMode.
    void toggleSampleMode(int mode);
    void toggleSampleMode();
    /// Over/under marks on the tone-mapped picture.
    void setMarkOverUnder(bool en);
    /// The status area's read-out of the colour under the pointer.
    void showSampleValues(bool inImg, rgbDouble_t rgb);
    /// Switches the workspace's background pair and remembers it.
    void setBackgroundSlot();
    /// The menu of the status area's colour buttons: photo colour space, monitor profile, intent.
    void showColorSpaceMenu();
    /// An item of "Color settings" was chosen: colour management on or off (through a new project when
    /// photos are loaded, after asking), the choices stored, and with photos loaded the transforms made
    /// again for the first photo and the preview and thumbnails redrawn at once.
    void setupColorManagement();
    /// "Open in external editor": saves the result as a TIFF in the session folder and opens it in
    /// the configured editor (offering the options page first when none is set up).
    void exportToExternalEditorSlot();
    /// "Save aligned photos": the options dialog (saveAligned), then every aligned photo written and
    /// given its source photo's EXIF (saveAlignedRun).
    void saveAlignedSlot();
    void saveAlignedFinished(bool ok, QString error);
    /// A sample was taken from the picture (logged, sample mode left): mode 1 and 2 set the black or
    /// white level, mode 3 the white balance that makes the sample neutral; `extra` is its
    /// sampleSource. sampleReady follows.
    void sampleTakenSlot(int mode, int extra, rgbDouble_t sampleValue);
    /// An eyedropper was switched on (`mode` 1 … 3) or off (0); the others go off.
    void requestSampleMode(int mode);
    /// The colour under the pointer (from the picture view's mouseMoved), marked on the selective
    /// saturation curves' axes while `inImg`.
    void showSampleInEditors(bool inImg, rgbDouble_t value);
    /// A language entry was chosen: stored for the next start.
    void languageChanged();
    /// "On-line documentation": opens the user guide.
    void openWebHelp();
    /// Pushes the record into every tone-mapping control with their signals blocked, then asks for
    /// one preview (after a settings load).
    void applySettingsToControls();

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
    /// Photos, EVs and the picture must not change now: a worker runs, photos load, or the HDR dialog is
    /// open.
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
    /// Shows the photo selected in the list (the first when none is) and names it in the status area.
    void showSelectedPhoto();
    /// Shows the photo with `id` before processing.
    void showPhoto(int id);
    /// Builds the status area below the panels.
    void buildStatusArea(QBoxLayout* outer);
    /// Adds the zoom actions to "View" and "Crop" to "Transform".
    void buildWorkspaceActions(QMenu* view, QMenu* transform);
    /// Dimensions, the shown picture's name and the colour buttons follow the project.
    void updateStatusArea();
    /// A colour set-up of the project asked for option corrections or has a notice for the user
    /// (main thread, during photo preparation): stored, logged once and shown in the status area.
    void colorSetupReported(const halvora::colorSetupResult_t& result);
    /// Every photo item shows its photo's current thumbnail (a radiance picture: the tone-mapped one).
    void refreshThumbnails();
    /// The colour settings a project starts with, from the options store.
    projectColorSettings_t projectColorSettings();
    /// Sets the current project's colour management up again from the options store and redraws the
    /// picture on show and the thumbnails.
    void applyColorSettings();
    /// After a radiance file was opened: the generation run prepares and tone-maps it at once.
    void startRadianceRun();
    /// The tone-mapped preview is rendered at the pyramid level the zoom can show: finer when zoomed
    /// in past the preview's own size (so 100 % shows the real pixels), the preview-sized one when
    /// fitted or zoomed out.
    void followZoomWithDetail();
    void generationLogLine(int kind, const QString& text);
    void buildToneMappingTab();
    /// Adds the settings actions to "File" (before `before`) and the "View" menu.
    void buildToneMappingMenus(QMenu* file, QAction* before);
    /// Points the tone-mapping controls at the current project's record and shows its values.
    void attachToneMappingControls();
    /// Builds the tone curve, histogram and colour tool boxes below the operators' box.
    void buildEditorBoxes(QWidget* column);
    void buildLanguageMenu();
    void buildHelpMenu();
    /// Applies a black- or white-point sample (mode 1 or 2).
    void takeLevelSample(int mode, int source, const rgbDouble_t& value);

    styledMainWindow* frame_;
    /// The metadata tool for the whole session; every project borrows it.
    std::unique_ptr<exiftoolDaemon> exiftool_;
    bool exiftoolErrorShown_ = false;
    std::unique_ptr<processingProject> project_;
    bool startupError_ = false;
    bool shutdownDone_ = false;
    int failureExitCode_ = 0;

    QMenuBar* menuBar_ = nullptr;
    QTabWidget* leftTabs_ = nullptr;
    QTabWidget* rightTabs_ = nullptr;
    mainWorkspace* workspace_ = nullptr;
    zoomWidget* zoom_ = nullptr;
    QLabel* sampleLabel_ = nullptr;
    QLabel* dimensionsLabel_ = nullptr;
    QLabel* shownLabel_ = nullptr;
    QCheckBox* panoramaBox_ = nullptr;
    QPushButton* photoSpaceButton_ = nullptr;
    QPushButton* monitorButton_ = nullptr;
    QAction* cropAction_ = nullptr;
    QList<QAction*> zoomActions_;
    shownKind shown_ = shownNothing;
    int shownPhotoId_ = -1;
    bool markOverUnder_ = false;
    int sampleMode_ = 0;
    QTimer zoomDetailTimer_; ///< waits for the zoom to settle before a finer render
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
    std::unique_ptr<saveAlignedRun> saveAlignedRun_;
    QAction* saveAlignedAction_ = nullptr;
    std::unique_ptr<transformRun> transformRun_;
    std::unique_ptr<automaticRun> automaticRun_;
    QPointer<projectRun> progressRun_; ///< the run the bar shows and "Break" cancels
    QPointer<generateHDR> hdrDialog_;
    QAction* generateHdrAction_ = nullptr;
    QPushButton* generateHdrButton_ = nullptr;
    QLabel* generateHint_ = nullptr;
    tonemappingGroup* tmGroup_ = nullptr;
    toolBox* tmToolBox_ = nullptr;
    toneCurveTool* curveTool_ = nullptr;
    histogramTool* histogramTool_ = nullptr;
    colorSaturationGroup* saturationGroup_ = nullptr;
    colorAdjustGroup* colorGroup_ = nullptr;
    QList<toolBox*> toneBoxes_; ///< the tool boxes of the tone-mapping tab, top to bottom
    QAction* exportAction_ = nullptr;
    QTimer toneMappingTimer_; ///< collects preview requests into one render
    QAction* showBeforeAction_ = nullptr;
    std::unique_ptr<checkUpdates> updateCheck_;
    QAction* showResultAction_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QString colorNotice_; ///< why colour management is off for the shown photos; empty when it is not
    colorSettingsMenu* colorMenu_ = nullptr;
    QAction* colorChoice_ = nullptr; ///< the "Color settings" item being handled
};
