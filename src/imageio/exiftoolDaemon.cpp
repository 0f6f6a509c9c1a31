#include "imageio/exiftoolDaemon.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "imageio/imageFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr const char* kExec = "exiftoolDaemon::exec";
constexpr int kLockTries = 50;
constexpr int kLockTryMs = 250;
constexpr int kLinesPerRound = 256;
constexpr int kCounterWrap = 50;

// The first error the tool reported for a command ("Error: File not found - …", or a copy source
// that does not exist), if any.
bool toolFailed(const QStringList& lines, QString& reason) {
    for (const QString& line : lines) {
        if (line.startsWith("Error")) {
            reason = "exiftool: " + line.mid(line.indexOf(':') + 1).trimmed();
            return true;
        }
    }
    for (const QString& line : lines) {
        // A missing -tagsFromFile source is reported without "Error" and nothing is written.
        if (line.contains("weren't updated due to errors") ||
            line.contains("does not exist for -tagsFromFile")) {
            reason = "exiftool: " + line.trimmed();
            return true;
        }
    }
    return false;
}

} // namespace

exiftoolDaemon::exiftoolDaemon(const settings_t& settings, QObject* parent)
    : QObject(parent), settings_(settings) {
    toolPath_ = settings_.toolPath.isEmpty() ? findExiftool(QCoreApplication::applicationDirPath())
                                             : settings_.toolPath;
    debugLog("Starting exiftool... (parent PID=%d)\n", int(QCoreApplication::applicationPid()));
    // Commands wait until the start-up check has seen the tool answer.
    lock_.acquire();
    startupPending_ = true;
    thread_ = std::make_unique<QThread>();
    thread_->setObjectName("exiftool");
    toolSide_ = std::make_unique<QObject>();
    toolSide_->moveToThread(thread_.get());
    thread_->start();
    QMetaObject::invokeMethod(
        toolSide_.get(), [this] { startTool(); }, Qt::QueuedConnection);
}

exiftoolDaemon::~exiftoolDaemon() {
    terminate();
}

QString exiftoolDaemon::findExiftool(const QString& applicationDir) {
    // The program's own copy first; a system folder is only searched through PATH, as the user set it.
    const QString beside = QDir(applicationDir).filePath("exiftool");
    const QFileInfo info(beside);
    if (!applicationDir.isEmpty() && info.isFile() && info.isExecutable()) return info.absoluteFilePath();
    return QStandardPaths::findExecutable("exiftool");
}

void exiftoolDaemon::startTool() {
    if (toolPath_.isEmpty()) {
        debugLog("Error! Failed to start exiftool. (exiftool was found neither next to the program nor on "
                 "PATH)\n");
        running_ = false;
        reportFailureOnce();
        finishStartupCheck();
        return;
    }
    debugLog("Exiftool path: %s\n", QDir::toNativeSeparators(toolPath_).toLocal8Bit().constData());
    process_ = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString scratch = settings_.scratchDirectory;
    while (scratch.size() > 1 && (scratch.endsWith('/') || scratch.endsWith('\\')))
        scratch.chop(1);
    if (!scratch.isEmpty())
        for (const char* name : {"TEMP", "TMP", "TMPDIR"})
            environment.insert(name, QDir::toNativeSeparators(scratch));
    process_->setProcessEnvironment(environment);
    // Error lines come before the "{ready}" of their command, so they are read as part of its answer.
    process_->setProcessChannelMode(QProcess::MergedChannels);
    // The tool must not outlive the program: a killed program would otherwise leave a stay-open tool
    // behind for good, holding every file the program had open (output files, locks of the caller).
    // So it ends with this thread, and it inherits no descriptor beyond its own pipes. Only system
    // calls here: the function runs in the forked child.
    const pid_t parent = ::getpid();
    process_->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    });
    process_->start(toolPath_, {"-stay_open", "True", "-@", "-"});
    if (!process_->waitForStarted(2000)) {
        debugLog("Error! Failed to start exiftool. (%s)\n",
                 process_->errorString().toLocal8Bit().constData());
        process_.reset();
        running_ = false;
        reportFailureOnce();
        finishStartupCheck();
        return;
    }
    running_ = true;
    process_->write(QByteArray("-ver\n-execute") + QByteArray::number(commandCounter_) + "\n");
    timer_ = std::make_unique<QTimer>();
    timer_->setSingleShot(true);
    timer_->setInterval(settings_.startCheckIntervalMs);
    connect(timer_.get(), &QTimer::timeout, toolSide_.get(), [this] { checkExiftoolSlot(); });
    timer_->start();
}

void exiftoolDaemon::checkExiftoolSlot() {
    ++startupChecks_;
    bool ready = false;
    if (process_) readAnswerLines(startupLines_, commandCounter_, ready);
    if (ready) {
        debugLog("Exiftool version: %s\n", startupLines_.value(0).toLocal8Bit().constData());
        commandCounter_ = (commandCounter_ + 1) % kCounterWrap;
        finishStartupCheck();
        return;
    }
    if (startupChecks_ < settings_.startCheckTicks && process_ && process_->state() == QProcess::Running) {
        timer_->start();
        return;
    }
    debugLog("Exiftool version: [couldn't get it in time...]\n");
    running_ = false;
    reportFailureOnce();
    finishStartupCheck();
}

void exiftoolDaemon::finishStartupCheck() {
    if (startupPending_.exchange(false)) lock_.release();
}

void exiftoolDaemon::reportFailureOnce() {
    if (!failureReported_.exchange(true)) emit showError();
}

bool exiftoolDaemon::waitForStartupCheck(int ms) {
    if (!lock_.tryAcquire(1, ms)) return false;
    lock_.release();
    return running_;
}

bool exiftoolDaemon::acquireLock() {
    for (int i = 0; i < kLockTries; ++i) {
        if (lock_.tryAcquire(1, kLockTryMs)) {
            debugLog("tryLock success i=%d!\n", i);
            return true;
        }
        QCoreApplication::processEvents();
    }
    debugLog("tryLock failed!\n");
    return false;
}

bool exiftoolDaemon::exec(const QStringList& args, QStringList* output, bool alreadyLocked, int waitRounds,
                          bool reportFailure, QString* error) {
    if (output) output->clear();
    if (!alreadyLocked && !acquireLock())
        return halvora::fail(error, kExec, QString(), "the metadata tool stayed busy with other commands");
    auto release = qScopeGuard([&] {
        if (!alreadyLocked) lock_.release();
    });
    if (!running_) {
        debugLog("Exiftool is not running!\n");
        if (reportFailure) reportFailureOnce();
        return halvora::fail(error, kExec, QString(), "exiftool is not running");
    }
    // The tool reads one argument a line: a line break inside a file name would start a new argument,
    // so a crafted name could add options (overwrite, delete, write elsewhere).
    for (const QString& arg : args)
        if (arg.contains('\n') || arg.contains('\r'))
            return halvora::fail(
                error, kExec, arg,
                "the name contains a line break, which the metadata tool would read as further "
                "options; refused");
    if (args.isEmpty()) return true;
    bool ok = false;
    auto run = [&] { ok = runCommand(args, output, waitRounds, !alreadyLocked, error); };
    if (QThread::currentThread() == thread_.get())
        run();
    else
        QMetaObject::invokeMethod(toolSide_.get(), run, Qt::BlockingQueuedConnection);
    return ok;
}

bool exiftoolDaemon::readAnswerLines(QStringList& lines, int command, bool& ready) {
    const QString readyLine = QString("{ready%1}").arg(command);
    for (int n = 0; n < kLinesPerRound && process_->canReadLine(); ++n) {
        QString line = QString::fromUtf8(process_->readLine());
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        debugLog("********* line='%s'\n", line.toLocal8Bit().constData());
        if (line.startsWith("{ready")) {
            if (line == readyLine) {
                ready = true;
                return true;
            }
            // The late answer of a command that timed out: what came with it was not ours.
            lines.clear();
            continue;
        }
        lines << line;
    }
    return false;
}

bool exiftoolDaemon::runCommand(const QStringList& args, QStringList* output, int waitRounds, bool wait,
                                QString* error) {
    if (!process_ || process_->state() != QProcess::Running) {
        running_ = false;
        return halvora::fail(error, kExec, QString(), "exiftool has stopped");
    }
    process_->readAll(); // whatever an earlier, timed-out command left
    QByteArray bytes;
    for (const QString& arg : args)
        bytes += QFile::encodeName(arg) + '\n';
    // Each command has its own number, also after a time-out, so a late answer is never taken for
    // the answer of the command after it.
    const int command = commandCounter_;
    commandCounter_ = (commandCounter_ + 1) % kCounterWrap;
    bytes += "-execute" + QByteArray::number(command) + '\n';
    process_->write(bytes);
    process_->waitForBytesWritten(1000);

    QStringList lines;
    bool ready = false;
    for (int round = 0; round < waitRounds && !ready; ++round) {
        if (wait && !process_->canReadLine()) process_->waitForReadyRead(settings_.roundMs);
        if (readAnswerLines(lines, command, ready)) break;
        debugLog("exiftool exec command (not ready yet: %d)\n", round);
        if (process_->state() != QProcess::Running) break;
    }
    if (!ready) {
        debugLog("Exiftool timeout!\n");
        if (process_->state() != QProcess::Running) {
            running_ = false;
            return halvora::fail(error, kExec, QString(), "exiftool has stopped");
        }
        return halvora::fail(
            error, kExec, QString(),
            QString("exiftool did not answer within %1 ms").arg(waitRounds * settings_.roundMs));
    }
    debugLog("exiftool exec command (done)\n");
    if (output) *output = lines;
    return true;
}

void exiftoolDaemon::stopTool() {
    running_ = false;
    timer_.reset();
    if (process_ && process_->state() == QProcess::Running) {
        process_->readAll();
        process_->write("-stay_open\nFalse\n-execute\n");
        process_->waitForBytesWritten(500);
        if (!process_->waitForFinished(2000)) {
            process_->kill();
            process_->waitForFinished(1000);
        }
    }
    process_.reset();
    finishStartupCheck();
}

void exiftoolDaemon::terminate() {
    if (!thread_ || !thread_->isRunning()) return;
    debugLog("Terminating exiftool...\n");
    QMetaObject::invokeMethod(
        toolSide_.get(), [this] { stopTool(); }, Qt::BlockingQueuedConnection);
    // A command that took the lock before the tool stopped is still served by the tool thread; once it
    // has given the lock back, every later command sees the tool stopped and never reaches the thread.
    lock_.acquire();
    lock_.release();
    thread_->quit();
    thread_->wait();
}

bool exiftoolDaemon::getExifExiftool(const QString& fileName, int format, exiftoolTags& tags,
                                     QString* error) {
    constexpr const char* kCaller = "exiftoolDaemon::getExifExiftool";
    if (format != formatJpeg && format != formatTiff && format != formatRaw)
        return halvora::fail(error, kCaller, fileName,
                             "the metadata tool is asked about JPEG, TIFF and RAW files only");
    QStringList lines;
    if (!execDefault(halvora::exiftoolTagQueryArguments(fileName), &lines, error)) return false;
    QString reason;
    if (toolFailed(lines, reason)) return halvora::fail(error, kCaller, fileName, reason);
    halvora::parseExiftoolAnswer(lines, tags);
    return true;
}

bool exiftoolDaemon::extractIcc(const QString& source, const QString& profile, QString* error) {
    constexpr const char* kCaller = "exiftoolDaemon::extractIcc";
    // The tool does not replace an existing file.
    QFile::remove(profile);
    QStringList lines;
    if (!execDefault(halvora::exiftoolExtractIccArguments(source, profile), &lines, error)) return false;
    QString reason;
    if (toolFailed(lines, reason)) {
        QFile::remove(profile);
        return halvora::fail(error, kCaller, source, reason);
    }
    if (QFileInfo(profile).size() <= 0) {
        QFile::remove(profile);
        return halvora::fail(error, kCaller, source, "no embedded colour profile");
    }
    return true;
}

bool exiftoolDaemon::embedIcc(const QString& target, const QString& profile, QString* error) {
    constexpr const char* kCaller = "exiftoolDaemon::embedIcc";
    if (!QFileInfo(profile).isFile())
        return halvora::fail(error, kCaller, profile, "the colour profile file does not exist");
    QStringList lines;
    if (!execDefault(halvora::exiftoolEmbedIccArguments(target, profile), &lines, error)) return false;
    QString reason;
    if (toolFailed(lines, reason)) return halvora::fail(error, kCaller, target, reason);
    return true;
}

bool exiftoolDaemon::transferExif(const QString& source, const QString& target, const QString& usedPhotos,
                                  exifResultKind kind, int dpi, const QString& profile, QString* error) {
    constexpr const char* kCaller = "exiftoolDaemon::transferExif";
    if (!profile.isEmpty() && !QFileInfo(profile).isFile())
        return halvora::fail(error, kCaller, profile, "the colour profile file does not exist");
    QStringList lines;
    if (!execDefault(halvora::exiftoolTransferExifArguments(source, target, usedPhotos, kind, dpi, profile),
                     &lines, error))
        return false;
    QString reason;
    if (toolFailed(lines, reason)) return halvora::fail(error, kCaller, target, reason);
    return true;
}
