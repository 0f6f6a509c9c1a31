// Entry of every run: interactive, automatic ("--auto"), plug-in and batch.

#include "app/commandLineOptions.h"
#include "app/debugLogSettings.h"
#include "app/programOptionsSettings.h"
#include "app/settingsStore.h"
#include "app/terminationWatcher.h"
#include "base/debugLog.h"
#include "base/runContext.h"
#include "ui/framePlacement.h"
#include "ui/mainWindow.h"
#include "ui/myCustomStyle.h"
#include "ui/splash.h"
#include "ui/styledMainWindow.h"
#include "ui/styledMessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList rawArguments(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

// Arguments whose bytes do not survive the conversion to text: a file of that name could not be
// opened or written under exactly the name given.
QStringList undecodableArguments(int argc, char** argv) {
    QStringList bad;
    for (int i = 1; i < argc; ++i)
        if (QFile::encodeName(QFile::decodeName(argv[i])) != QByteArray(argv[i]))
            bad << QString::fromLocal8Bit(argv[i]);
    return bad;
}

QScreen* savedScreen(int index) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    return (index >= 0 && index < screens.size()) ? screens[index] : QGuiApplication::primaryScreen();
}

void placeFrame(styledMainWindow& frame, const QRect& saved, bool maximized, int screenIndex) {
    QScreen* screen = savedScreen(screenIndex);
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    const QRect full = screen ? screen->geometry() : available;
    const halvora::framePlacement p = halvora::placeFrame(saved, maximized, available, full);
    if (p.maximized) {
        frame.setGeometry(p.restore);
        frame.showMaximized();
        return;
    }
    const QRect& i = p.intersection;
    debugLog("x1=%d, y1=%d, x2=%d, y2=%d; w=%d, h=%d\n", i.left(), i.top(), i.right() + 1, i.bottom() + 1,
             i.right() + 1 - i.left(), i.bottom() + 1 - i.top());
    frame.setGeometry(p.frame);
    frame.show();
}

} // namespace

int main(int argc, char** argv) {
#ifdef M_MMAP_THRESHOLD
    // Blocks from 128 KiB on get pages of their own, returned to the system when freed. Left to
    // itself the allocator raises this limit after the first large free and then keeps the merge's
    // and the loaders' freed blocks (about 18 MB at the peak of a 12-megapixel run).
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    // --help and --version answer without a window, a display or a session directory.
    const QStringList arguments = rawArguments(argc, argv);
    const commandLineOptions early = commandLineOptions::parse(arguments);
    if (early.showHelp) {
        std::fputs(commandLineOptions::usageText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (early.showVersion) {
        std::printf("%s %s\n", halvora::kApplicationName, halvora::kApplicationVersion);
        return 0;
    }
    // An unattended run on a machine without a display uses the offscreen platform.
    if (early.autoProcess && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Without a runtime directory Qt warns on every run and falls back to one under /tmp: give it the
    // private one it would make, quietly.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray runtime =
            QDir::tempPath().toLocal8Bit() + "/runtime-" + QByteArray::number(getuid());
        if (::mkdir(runtime.constData(), 0700) == 0 ||
            (QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable()))
            qputenv("XDG_RUNTIME_DIR", runtime);
    }

    // Qt would take "--plugin" (and the argument after it) as its own option: it gets the program name only.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setStyle(new myCustomStyle);
    QCoreApplication::setOrganizationName(halvora::kOrganizationName);
    QCoreApplication::setApplicationName(halvora::kApplicationName);
    QCoreApplication::setApplicationVersion(halvora::kApplicationVersion);

    QRect savedGeometry;
    bool savedMaximized = true;
    int savedScreenIndex = -1;
    {
        auto settings = halvora::openSettings();
        savedGeometry = settings->value("WindowGeometry", QRect(0, 0, 800, 600)).toRect();
        savedMaximized = settings->value("WindowMaximized", true).toBool();
        bool ok = false;
        savedScreenIndex = settings->value("Screen", -1).toInt(&ok);
        if (!ok) savedScreenIndex = -1;
        if (!savedGeometry.isValid()) savedGeometry = QRect(0, 0, 800, 600);
    }

    halvora::installDebugLogSettings();
    programOptionsSettings& options = programOptionsSettings::instance();
    halvora::setDefaultThreadCount(options.coreCount);

    QTranslator translator;
    if (options.language != "en" &&
        !translator.load(QCoreApplication::applicationDirPath() + "/lang_" + options.language + ".qm"))
        std::printf("TODO: lang file not found!\n");
    QCoreApplication::installTranslator(&translator);

    // The resources live in a static library: without this their registration is never linked in.
    Q_INIT_RESOURCE(resources);
    QFile css(":/resources/style1.css");
    if (css.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromLatin1(css.readAll()));

    std::srand(unsigned(std::time(nullptr)));

    commandLineOptions& cmd = commandLineOptions::current();
    cmd = commandLineOptions::parse(arguments);
    cmd.undecodableArguments = undecodableArguments(argc, argv);
    // Automatic and hidden runs have nobody to answer a box: boxes become log lines.
    const bool unattended = cmd.autoProcess || cmd.hideWindow;
    styledMessageBox::setUnattended(unattended);
    if (!unattended)
        halvora::setDebugLogQuestion(
            [](const QString& text) { return styledMessageBox::question(nullptr, text); });

    // Installed before the window exists so that an early SIGTERM still ends the run in order.
    terminationWatcher termination;
    styledMainWindow frame;
    auto* main = new mainWindow(&frame);
    QObject::connect(&termination, &terminationWatcher::terminationRequested, &frame, [&frame, main] {
        abortRequested = true;    // the process shuts down: every loop of every run ends
        main->resultSaved = true; // a termination request does not ask "Do you really want to exit?"
        frame.close();
    });
    frame.setMainWindow(main);
    frame.setTitleFileName(QString());
    frame.setMinimumSize(900, 570);

    placeFrame(frame, savedGeometry, savedMaximized, savedScreenIndex);
    cmd.logParameters(arguments);

    if (main->startupError()) {
        styledMessageBox::show(&frame, styledMessageBox::error,
                               QObject::tr("Error on startup. Please contact support."));
        return -1;
    }

    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(QThread::idealThreadCount() + 8);
    debugLog("maxThreadCount=%d\n", pool->maxThreadCount());

    // The splash's fade-out ends in splashFinished(). Unattended runs show no splash: it runs as soon
    // as the loop starts.
    if (unattended) {
        QTimer::singleShot(0, main, &mainWindow::splashFinished);
    } else {
        auto* startScreen = new splash(&frame); // deletes itself when it has faded out
        QObject::connect(startScreen, &splash::finished, main, &mainWindow::splashFinished);
        startScreen->start();
        startScreen->startHiding();
    }

    int ret = app.exec();
    if (ret == 0) {
        options.write();
        auto settings = halvora::openSettings();
        settings->setValue("WindowGeometry", frame.normalGeometry());
        settings->setValue("WindowMaximized", frame.isMaximized());
        settings->setValue("Screen", int(QGuiApplication::screens().indexOf(frame.screen())));
        if (main->failureExitCode() != 0) ret = main->failureExitCode();
    }
    // A run ended by a signal did not finish its work: a script must not take it for success.
    if (const int signal = terminationWatcher::receivedSignal()) {
        std::fprintf(stderr, "halvora: interrupted (%s)\n", strsignal(signal));
        ret = terminationWatcher::exitStatusFor(signal);
    }
    debugLog("\nTerminated (ret=%d)\n", ret);
    return ret;
}
