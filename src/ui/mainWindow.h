#pragma once
// The one top-level window of an interactive run. Owns the current processingProject, shows the
// photos, the picture and the processing stages, appends coloured lines to its log panel, and starts
// every long operation on a worker object in a thread of its own. Only the main thread touches it.

#include "imageio/imageTransform.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

class QLabel;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTextEdit;
class QThread;
class processingProject;
class styledMainWindow;

class mainWindow : public QWidget {
    Q_OBJECT
public:
    enum logKind { logInfo, logWarning, logError, logSuccess };

    /// One kind of long operation: its thread and worker while it runs, empty otherwise.
    struct workerSlot {
        QThread* thread = nullptr;
        QObject* worker = nullptr;
        bool occupied() const { return worker != nullptr; }
    };

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

signals:
    void loadOnStartup();

public slots:
    void startProgress(uint64_t total);
    void finishProgress();
    void updateProgress();
    void splashFinished();
    void loadOnStartupSlot();
    void addImages(const QStringList& fileNames);
    void rightTabChanged(int n);
    void showProgramOptions(int tab);
    void showProgramOptions();
    void transformImageSlot();
    void transformImageFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildUi();
    void buildMenus();
    void startTransform(int mode, const halvora::cropRect& rect);
    void setControlsEnabled(bool enabled);
    void releaseWorker(workerSlot& slot);
    void waitForWorker(workerSlot& slot, int polls);
    void logWorkerSlots();
    /// Ends an unattended run that cannot go on: error line, exit code, close.
    void failUnattended(const QString& message);

    styledMainWindow* frame_;
    std::unique_ptr<processingProject> project_;
    bool startupError_ = false;
    bool shutdownDone_ = false;
    int failureExitCode_ = 0;

    QMenuBar* menuBar_ = nullptr;
    QTabWidget* leftTabs_ = nullptr;
    QTabWidget* rightTabs_ = nullptr;
    QLabel* pictureView_ = nullptr;
    QTextEdit* logPanel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* breakButton_ = nullptr;
    QTimer progressTimer_;
    QList<QAction*> transformActions_;

    std::array<workerSlot, 32> loadPhotoWorkers_;
    workerSlot savePhotoWorker_, saveAlignedWorker_, toneMappingWorker_, presetThumbsWorker_, postProcessWorker_,
        transformWorker_;
};
