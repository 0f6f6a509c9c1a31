#pragma once
// Process-wide state shared by the main window and every worker: the abort flag, the progress
// counters and whether the program runs a batch (which selects the batch core count).

#include <atomic>
#include <cstdint>

/// Set by the shutdown (and around some main-window operations); long loops poll it and return early.
extern std::atomic<bool> abortRequested;

namespace halvora {

/// Progress shared by all workers: a total set when an operation starts and a done-count that
/// worker code adds to. Relaxed atomics: the shown value is advisory, the loops take no locks.
struct progressCounters {
    std::atomic<uint64_t> total{1};
    std::atomic<uint64_t> done{0};
};
progressCounters& progress();

/// Starts an operation: total (0 counts as 1), done = 0.
void setProgressTotal(uint64_t total);
/// Adds finished units (pixels, rows, tiles) to the done-count; callable from any thread.
inline void addProgress(uint64_t units) { progress().done.fetch_add(units, std::memory_order_relaxed); }
/// done × 100 / total, capped at 100.
int progressPercent();

/// True while a batch runs with the window hidden: the thread helper then uses CoreCountBatch.
extern std::atomic<bool> batchModeActive;

} // namespace halvora
