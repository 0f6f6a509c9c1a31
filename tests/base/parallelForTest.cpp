#include "base/parallelFor.h"

#include <QThreadPool>
#include <QtConcurrent>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
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
        futures << QtConcurrent::run(
            [&] { halvora::parallelFor(100, [&](int, int64_t b, int64_t e) { total += e - b; }); });
    for (auto& f : futures)
        f.waitForFinished();
    EXPECT_EQ(total.load(), int64_t(tasks) * 100);
    halvora::setThreadCountOverride(0);
}

// A per-part record as the pixel loops use them: its range, state built before the run (move-only,
// like a scratch block) and a result the caller combines after the wait.
struct partRecord {
    int64_t begin = 0, end = 0;
    std::thread::id madeOn;
    std::unique_ptr<int64_t> scratch;
    int64_t sum = 0;
    int runs = 0;
};

std::vector<partRecord> sumInRecords(int64_t count, int maxParts = 0) {
    return halvora::parallelRecords<partRecord>(
        count,
        [](int, int64_t begin, int64_t end) {
            partRecord r;
            r.begin = begin;
            r.end = end;
            r.madeOn = std::this_thread::get_id();
            r.scratch = std::make_unique<int64_t>(0);
            return r;
        },
        [](partRecord& r) {
            for (int64_t i = r.begin; i < r.end; ++i)
                *r.scratch += i;
            r.sum = *r.scratch;
            ++r.runs;
        },
        maxParts);
}

TEST(parallelRecords, oneRecordPerPartInPartOrderMadeByTheCaller) {
    halvora::setThreadCountOverride(3);
    const auto records = sumInRecords(10);
    halvora::setThreadCountOverride(0);
    ASSERT_EQ(records.size(), 3u);
    const int64_t expected[3][3] = {{0, 3, 0 + 1 + 2}, {3, 6, 3 + 4 + 5}, {6, 10, 6 + 7 + 8 + 9}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].begin, expected[i][0]);
        EXPECT_EQ(records[i].end, expected[i][1]);
        EXPECT_EQ(records[i].sum, expected[i][2]);
        EXPECT_EQ(records[i].runs, 1);
        EXPECT_EQ(records[i].madeOn, std::this_thread::get_id());
    }
}

TEST(parallelRecords, emptyRangesAndPartLimits) {
    halvora::setThreadCountOverride(8);
    EXPECT_TRUE(sumInRecords(0).empty());
    EXPECT_TRUE(sumInRecords(-5).empty());
    EXPECT_EQ(sumInRecords(2).size(), 2u);      // never more parts than items
    EXPECT_EQ(sumInRecords(100, 2).size(), 2u); // the caller's limit
    EXPECT_EQ(sumInRecords(100, 2)[1].begin, 50);
    halvora::setThreadCountOverride(0);
}

TEST(parallelRecords, everyItemOnceForAnyThreadCount) {
    const int64_t n = 100003;
    for (int threads : {1, 2, 7, 64}) {
        halvora::setThreadCountOverride(threads);
        const auto records = sumInRecords(n);
        int64_t total = 0, next = 0;
        for (const auto& r : records) {
            EXPECT_EQ(r.begin, next);
            next = r.end;
            total += r.sum;
        }
        EXPECT_EQ(next, n);
        EXPECT_EQ(total, n * (n - 1) / 2) << threads;
    }
    halvora::setThreadCountOverride(0);
}

} // namespace
