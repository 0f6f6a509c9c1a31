#include "base/parallelFor.h"

#include <QThreadPool>
#include <QtConcurrent>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace {

struct range {
    int part;
    int64_t begin, end;
};

std::vector<range> ranges(int64_t count, int threads, int maxParts = 0) {
    halvora::setThreadCountOverride(threads);
    std::vector<range> out(size_t(std::max(0, halvora::parallelParts(count, maxParts))));
    std::mutex m;
    halvora::parallelFor(
        count,
        [&](int part, int64_t b, int64_t e) {
            std::lock_guard<std::mutex> lock(m);
            out[size_t(part)] = {part, b, e};
        },
        maxParts);
    halvora::setThreadCountOverride(0);
    return out;
}

TEST(parallelFor, equalPartsLastTakesTheRemainder) {
    const auto r = ranges(10, 3);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].begin, 0);
    EXPECT_EQ(r[0].end, 3);
    EXPECT_EQ(r[1].begin, 3);
    EXPECT_EQ(r[1].end, 6);
    EXPECT_EQ(r[2].begin, 6);
    EXPECT_EQ(r[2].end, 10);
}

TEST(parallelFor, neverMorePartsThanItems) {
    EXPECT_EQ(ranges(2, 8).size(), 2u);
    EXPECT_EQ(ranges(0, 8).size(), 0u);
    EXPECT_EQ(ranges(100, 8, 2).size(), 2u);
    EXPECT_EQ(halvora::parallelParts(-4), 0);
}

TEST(parallelFor, usableThreadsFollowTheOptions) {
    const int n = halvora::usableThreadCount();
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 64);
    EXPECT_LE(n, std::max(1, QThread::idealThreadCount()));
}

TEST(parallelFor, coversEveryItemOnceWithManyThreads) {
    for (int threads : {1, 2, 7, 64}) {
        halvora::setThreadCountOverride(threads);
        std::vector<std::atomic<int>> hits(1001);
        halvora::parallelFor(1001, [&](int, int64_t b, int64_t e) {
            for (int64_t i = b; i < e; ++i)
                hits[size_t(i)]++;
        });
        for (auto& h : hits)
            ASSERT_EQ(h.load(), 1);
    }
    halvora::setThreadCountOverride(0);
}

// Loops started from global-pool tasks must not deadlock even when the pool is saturated.
TEST(parallelFor, nestedInPoolTasksDoesNotDeadlock) {
    halvora::setThreadCountOverride(8);
    const int tasks = QThreadPool::globalInstance()->maxThreadCount() * 2;
    std::atomic<int64_t> total{0};
    QList<QFuture<void>> futures;
    for (int t = 0; t < tasks; ++t)
        futures << QtConcurrent::run([&] {
            halvora::parallelFor(100, [&](int, int64_t b, int64_t e) { total += e - b; });
        });
    for (auto& f : futures)
        f.waitForFinished();
    EXPECT_EQ(total.load(), int64_t(tasks) * 100);
    halvora::setThreadCountOverride(0);
}

} // namespace
