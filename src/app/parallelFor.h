#pragma once
// The one threading helper. Every pixel loop splits its range with it: N equal parts (the last
// takes the remainder), run on the global thread pool, and the caller waits for all of them.
// Results are combined by the caller after the wait, so kernels take no locks.
//
// N = min(ideal thread count, 64, Performance/CoreCount) — or Performance/CoreCountBatch while a
// batch runs — further limited by the caller's maxParts and by the size of the range.

#include <cstdint>
#include <functional>

namespace halvora {

/// Threads a pixel loop may use now (at least 1).
int usableThreadCount();

/// Number of parts parallelFor will use for a range of `count` items (0 for an empty range).
int parallelParts(int64_t count, int maxParts = 0);

/// Calls fn(part, begin, end) for every part of [0, count) and returns when all have finished.
/// Part i covers [i × (count / N), (i + 1) × (count / N)); the last part ends at count.
/// Safe to call from a worker thread and from a global-pool task (parts not yet started are run
/// by the caller itself, so a busy pool cannot deadlock it).
void parallelFor(int64_t count, const std::function<void(int part, int64_t begin, int64_t end)>& fn,
                 int maxParts = 0);

/// Test hook: forces N (0 restores the rule above).
void setThreadCountOverride(int n);

} // namespace halvora
