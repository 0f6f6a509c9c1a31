#pragma once
// Turns SIGTERM and SIGINT into a Qt signal on the main thread, so that a terminal's Ctrl+C or a
// service manager's stop runs the ordered shutdown (workers stopped, session directory removed)
// instead of killing the process with its temporary files left behind.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class terminationWatcher : public QObject {
    Q_OBJECT
public:
    /// Installs the handlers; one instance per process, created on the main thread.
    explicit terminationWatcher(QObject* parent = nullptr);
    ~terminationWatcher() override;

signals:
    void terminationRequested();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};
