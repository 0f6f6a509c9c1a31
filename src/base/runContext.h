#pragma once
// What one long operation carries with it, fixed when it starts: its cancel flag, its progress
// counters, the number of threads its pixel loops may use and the panorama option. Two runs in one
// process (a batch, tests, two projects) each have their own context.
//
// A worker thread binds its run's context with runContext::scope; parallelFor carries the binding
// into the parts it runs on the global pool. Kernels therefore poll halvora::cancelRequested() and
// count with halvora::addProgress() without a context argument, and never read the options store.
//
// `abortRequested` is the process's shutdown signal only: once it is set every context reports
// itself cancelled, so every loop of every run ends.

#include <atomic>
#include <cstdint>

/// Set once by the shutdown (window close, SIGTERM); never cleared. Long loops see it through
/// halvora::cancelRequested().
extern std::atomic<bool> abortRequested;

namespace halvora {

class runContext {
public:
    /// `threads`: the most parts a pixel loop of this run may use; 0 takes the process default
    /// (setDefaultThreadCount) as it is now. The machine's ideal count and 64 limit it further.
    explicit runContext(int threads = 0, bool panoramaMode = false);
    runContext(const runContext&) = delete;
    runContext& operator=(const runContext&) = delete;

    /// Asks the run to stop; its loops see it at their next poll. Any thread.
    void cancel() { cancelled_.store(true, std::memory_order_relaxed); }
    /// True after cancel() or once the process shuts down.
    bool cancelled() const {
        return cancelled_.load(std::memory_order_relaxed) || abortRequested.load(std::memory_order_relaxed);
    }

    /// Starts a measured step: total (0 counts as 1), done = 0. Any thread.
    void startProgress(uint64_t total);
    /// Adds finished units (pixels, rows, tiles) to the done-count; any thread, no lock.
    void addProgress(uint64_t units) { done_.fetch_add(units, std::memory_order_relaxed); }
    /// done × 100 ÷ total, capped at 100.
    int progressPercent() const;
    uint64_t progressTotal() const { return total_.load(std::memory_order_relaxed); }
    uint64_t progressDone() const { return done_.load(std::memory_order_relaxed); }

    /// Parts a pixel loop of this run may use (at least 1).
    int threadCount() const { return threads_; }
    /// The picture wraps around at its left and right edges (a 360° panorama).
    bool panoramaMode() const { return panoramaMode_; }

    /// Binds a context to the calling thread until the scope ends; scopes nest.
    class scope {
    public:
        explicit scope(runContext& context);
        ~scope();
        scope(const scope&) = delete;
        scope& operator=(const scope&) = delete;

    private:
        runContext* previous_;
    };

    /// The context bound to the calling thread; outside every run, the process's idle context, which
    /// only the shutdown cancels and which uses the default thread count.
    static runContext& current();

private:
    std::atomic<bool> cancelled_{false};
    std::atomic<uint64_t> total_{1};
    std::atomic<uint64_t> done_{0};
    int threads_ = 1;
    bool panoramaMode_ = false;
};

/// Thread limit new contexts take by default: the Performance/CoreCount option (0 = no limit but the
/// machine's). Set by the application at start and whenever the options change; any thread.
void setDefaultThreadCount(int threads);
int defaultThreadCount();
/// min(ideal thread count, 64, `configured` when it is at least 1).
int threadsFor(int configured);

/// The current run was cancelled or the process shuts down: long loops return early.
inline bool cancelRequested() {
    return runContext::current().cancelled();
}
/// Adds finished units to the current run's progress.
inline void addProgress(uint64_t units) {
    runContext::current().addProgress(units);
}

} // namespace halvora
