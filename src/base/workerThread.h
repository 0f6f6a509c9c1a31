#pragma once
// Owns the thread of one long operation. start() runs a body on a new thread with the run's context
// bound; finished() follows on the owner's thread once the body has returned and the thread has
// ended. Every run uses this type, so no run wires QThread signals by hand, deletes a thread or a
// worker itself, or terminates a thread: stopping a run is cancelling its context and waiting here.
//
// Created, started, waited on and destroyed on one thread (the main thread for the program's runs).

#include <QObject>
#include <functional>
#include <memory>

class QThread;

namespace halvora {

class runContext;

class workerThread : public QObject {
    Q_OBJECT
public:
    explicit workerThread(QObject* parent = nullptr);
    /// Waits for a body still running (its run must have been cancelled first to end quickly).
    ~workerThread() override;

    /// Runs `body` on a new thread with `context` bound (see runContext::scope). False while a body
    /// still runs.
    bool start(runContext& context, std::function<void()> body);
    /// True from start() until the body has returned.
    bool running() const;
    /// Blocks until the body has returned; finished() still follows through the event loop.
    void wait();

signals:
    /// The body has returned and its thread has ended; on the owner's thread.
    void finished();

private:
    std::unique_ptr<QThread> thread_;
};

} // namespace halvora
