#pragma once
// Writes every photo of the sequence after alignment ("Save aligned photos") on a thread of its
// own. The main window fills `options`, starts the thread with started() → doSaveAligned() and reads
// the results only after finished(); the project must not change meanwhile.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <vector>

class processingProject;

/// Choices of the "Save aligned photos" dialog (unchecked prefix or suffix: empty text).
struct saveAlignedOptions_t {
    QString prefix;
    QString suffix;
    QString folder;
    int format = 0; ///< 0 JPEG, 1 TIFF
    int jpegQuality = 100;
    int tiffBitDepth = 1;
    int tiffCompression = 0;
    int dpi = 300;
    /// The sequence's colour profile, embedded in every file (empty: none; colour management off).
    QByteArray iccProfile;
};

class saveAlignedWorker : public QObject {
    Q_OBJECT
public:
    /// `project` is borrowed; its photos' current temporary files hold the aligned pixels.
    saveAlignedWorker(processingProject* project, const saveAlignedOptions_t& options,
                      QObject* parent = nullptr);

    saveAlignedOptions_t options;
    /// One entry per photo of the project, in order: the written file, or empty when it failed.
    std::vector<QString> savedFiles;
    /// True when every photo was written.
    bool success = false;

public slots:
    /// Writes the photos (worker thread) and emits finished().
    void doSaveAligned();

signals:
    void finished();

private:
    processingProject* project_;
};
