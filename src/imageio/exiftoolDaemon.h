#pragma once
// The metadata tool (exiftool), kept running in its stay-open mode for the whole session: commands go
// to its standard input one argument a line, each ended by a numbered "-execute", and its answer ends
// with the matching "{ready}" line.
//
// Threads: the tool's process lives on a thread of its own, which runs the start-up check and every
// command. Any thread may call exec() and the jobs built on it; they are served strictly one at a time
// (the command lock), and a caller waiting for the lock keeps its own event loop alive. The object is
// created and destroyed on one thread (the main thread in the program). When the tool is missing or
// dies at start, showError() is emitted once and every command fails at once with a reason.

#include "imageio/exiftoolCommands.h"
#include "imageio/exiftoolTags.h"

#include <QObject>
#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class QProcess;
class QThread;
class QTimer;

class exiftoolDaemon : public QObject {
    Q_OBJECT
public:
    /// Values the daemon needs, handed to it when it starts.
    struct settings_t {
        /// The scratch directory, given to the tool as TEMP, TMP and TMPDIR (empty: left as they are).
        QString scratchDirectory;
        /// The tool to run; empty finds it with findExiftool().
        QString toolPath;
        /// Start-up check: ticks of this interval until the tool has answered, at most this many.
        int startCheckIntervalMs = 1000;
        int startCheckTicks = 10;
        /// One wait round of a command.
        int roundMs = 100;
    };

    /// Starts the tool and its start-up check; returns at once.
    explicit exiftoolDaemon(const settings_t& settings, QObject* parent = nullptr);
    /// Ends the tool (terminate()).
    ~exiftoolDaemon() override;

    /// "exiftool" next to the program (`applicationDir`), else the first on PATH; empty when neither.
    static QString findExiftool(const QString& applicationDir);

    /// Runs one command: takes the command lock unless `alreadyLocked` (up to 50 tries of 250 ms),
    /// writes `args`, and collects the answer lines into `output` (when given) for at most `waitRounds`
    /// rounds. False with a reason when the tool is not running, an argument holds a line break (it would
    /// inject options into the command stream), or no answer came in time.
    bool exec(const QStringList& args, QStringList* output, bool alreadyLocked, int waitRounds,
              bool reportFailure, QString* error = nullptr);
    /// exec with 70 rounds, reporting a missing tool.
    bool execDefault(const QStringList& args, QStringList* output = nullptr, QString* error = nullptr) {
        return exec(args, output, false, 70, true, error);
    }

    /// Blocks until the start-up check has ended (at most `ms`); true when the tool runs.
    bool waitForStartupCheck(int ms);
    /// The tool was started and has not been found dead or stopped.
    bool isRunning() const { return running_.load(); }

    /// Tag query of a JPEG, TIFF or RAW photo (`format` an imageFormat code) into `tags`.
    bool getExifExiftool(const QString& fileName, int format, exiftoolTags& tags, QString* error = nullptr);
    /// Writes the profile embedded in `source` to `profile`; false (and no file) when there is none.
    bool extractIcc(const QString& source, const QString& profile, QString* error = nullptr);
    /// Embeds the profile file `profile` into `target`.
    bool embedIcc(const QString& target, const QString& profile, QString* error = nullptr);
    /// Copies the EXIF of `source` into the saved result `target` (see exiftoolTransferExifArguments),
    /// embedding `profile` in the same write when one is given.
    bool transferExif(const QString& source, const QString& target, const QString& usedPhotos,
                      exifResultKind kind, int dpi, const QString& profile = QString(),
                      QString* error = nullptr);

    /// Ends the tool; later commands fail. Called once at shutdown (also by the destructor).
    void terminate();

signals:
    /// The tool is missing or did not answer at start; emitted once per daemon, from the tool's thread.
    void showError();

private:
    void startTool();
    void checkExiftoolSlot();
    bool runCommand(const QStringList& args, QStringList* output, int waitRounds, bool wait, QString* error);
    void stopTool();
    void reportFailureOnce();
    void finishStartupCheck();
    bool acquireLock();
    bool readAnswerLines(QStringList& lines, int command, bool& ready);

    settings_t settings_;
    QString toolPath_;
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QObject> toolSide_; ///< lives on thread_: the context of the calls run there
    std::unique_ptr<QProcess> process_; ///< made, used and destroyed on thread_
    std::unique_ptr<QTimer> timer_;     ///< the start-up check's timer, on thread_
    /// The command lock: a binary semaphore, as the start-up check takes it on one thread and gives it
    /// back on another.
    QSemaphore lock_{1};
    std::atomic<bool> running_{false};
    std::atomic<bool> failureReported_{false};
    std::atomic<bool> startupPending_{false};
    int startupChecks_ = 0;
    int commandCounter_ = 0;
    QStringList startupLines_;
};
