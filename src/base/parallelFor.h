#pragma once
// The one threading helper. Every pixel loop splits its range with it: N equal parts (the last
// takes the remainder), run on the global thread pool, and the caller waits for all of them.
// Results are combined by the caller after the wait, so kernels take no locks.
//
// N = the thread count of the calling run's context (min(ideal thread count, 64, the configured
// core count), fixed when the run started), further limited by the caller's maxParts and by the size
// of the range. Each part runs with the caller's run context bound, so cancellation and progress
// reach the right run.

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace halvora {

/// Threads a pixel loop of the current run may use now (at least 1).
int usableThreadCount();

/// Number of parts parallelFor will use for a range of `count` items (0 for an empty range).
int parallelParts(int64_t count, int maxParts = 0);

/// Calls fn(part, begin, end) for every part of [0, count) and returns when all have finished.
/// Part i covers [i × (count / N), (i + 1) × (count / N)); the last part ends at count.
/// Safe to call from a worker thread and from a global-pool task (parts not yet started are run
/// by the caller itself, so a busy pool cannot deadlock it).
void parallelFor(int64_t count, const std::function<void(int part, int64_t begin, int64_t end)>& fn,
                 int maxParts = 0);

/// The same split into exactly `parts` parts (at least 1, at most count); for callers that size
/// per-part state first. Prefer parallelRecords, which does both in one call.
void parallelForParts(int parts, int64_t count,
                      const std::function<void(int part, int64_t begin, int64_t end)>& fn);

/// One call that sizes and runs: splits [0, count) as parallelFor does, builds one record per part
/// with make(part, begin, end) on the calling thread, runs run(record) for every part and returns the
/// records in part order once all have finished (empty for an empty range).
template <class Record, class Make, class Run>
std::vector<Record> parallelRecords(int64_t count, Make&& make, Run&& run, int maxParts = 0) {
    const int parts = parallelParts(count, maxParts);
    std::vector<Record> records;
    records.reserve(size_t(parts));
    const int64_t step = parts > 0 ? count / parts : 0;
    for (int i = 0; i < parts; ++i)
        records.push_back(make(i, i * step, i == parts - 1 ? count : (i + 1) * step));
    if (parts > 0)
        parallelForParts(parts, count, [&](int part, int64_t, int64_t) { run(records[size_t(part)]); });
    return records;
}

/// Test hook: forces N (0 restores the rule above).
void setThreadCountOverride(int n);

} // namespace halvora
