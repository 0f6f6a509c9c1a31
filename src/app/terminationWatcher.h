#pragma once
// Turns SIGTERM and SIGINT into a Qt signal on the main thread, so that a terminal's Ctrl+C or a
// service manager's stop runs the ordered shutdown (runs stopped, session directory removed) instead
// of killing the process with its temporary files left behind. A second signal while that shutdown
// waits ends the process at once (exit status 128 + signal). SIGXFSZ is ignored, so a file-size
// limit turns into an ordinary, reported write error instead of a silent death.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class terminationWatcher : public QObject {
    Q_OBJECT
public:
    /// Installs the handlers; one instance per process, created on the main thread.
    explicit terminationWatcher(QObject* parent = nullptr);
    ~terminationWatcher() override;

    /// The first termination signal received (SIGTERM, SIGINT), or 0.
    static int receivedSignal();
    /// Exit status of a run ended by `signal`: 128 + signal.
    static int exitStatusFor(int signal) { return 128 + signal; }

signals:
    void terminationRequested();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};
