// A run's context: its progress, its cancel flag and thread count, the binding that carries it into
// the parts of parallelFor, and the shutdown signal that reaches every run.

#include "base/runContext.h"
#include "base/parallelFor.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using halvora::runContext;

namespace {

TEST(runContext, progressIsCappedAndNeverDividesByZero) {
    runContext run;
    run.startProgress(0);
    EXPECT_EQ(run.progressTotal(), 1u);
    EXPECT_EQ(run.progressPercent(), 0);
    run.addProgress(5);
    EXPECT_EQ(run.progressPercent(), 100);
    run.startProgress(400);
    EXPECT_EQ(run.progressDone(), 0u) << "a new step starts from nothing";
    run.addProgress(100);
    EXPECT_EQ(run.progressPercent(), 25);
    run.startProgress(uint64_t(1) << 62);
    run.addProgress(uint64_t(1) << 61);
    EXPECT_EQ(run.progressPercent(), 50) << "no overflow with 64-bit totals";
}

// Two runs side by side: progress and "Break" reach the run whose work counts and polls, through every
// part the thread helper runs on the pool.
TEST(runContext, partsOfParallelForWorkForTheRunThatStartedThem) {
    runContext a(4), b(4);
    std::atomic<int> cancelledSeenByA{0}, cancelledSeenByB{0};
    b.cancel();
    auto work = [](runContext& run, std::atomic<int>& cancelledSeen) {
        runContext::scope bind(run);
        halvora::parallelFor(1000, [&](int, int64_t begin, int64_t end) {
            halvora::addProgress(uint64_t(end - begin));
            cancelledSeen += halvora::cancelRequested() ? 1 : 0;
        });
    };
    std::thread first([&] { work(a, cancelledSeenByA); });
    std::thread second([&] { work(b, cancelledSeenByB); });
    first.join();
    second.join();
    EXPECT_EQ(a.progressDone(), 1000u);
    EXPECT_EQ(b.progressDone(), 1000u);
    EXPECT_EQ(cancelledSeenByA.load(), 0) << "a Break of one run does not stop another";
    EXPECT_GT(cancelledSeenByB.load(), 0);
    EXPECT_FALSE(runContext::current().cancelled()) << "the binding ends with its scope";
}

TEST(runContext, theShutdownCancelsEveryRun) {
    runContext a, b;
    EXPECT_FALSE(a.cancelled());
    abortRequested = true;
    EXPECT_TRUE(a.cancelled());
    EXPECT_TRUE(b.cancelled());
    EXPECT_TRUE(halvora::cancelRequested()) << "the idle context too";
    abortRequested = false;
    EXPECT_FALSE(b.cancelled());
}

// The thread count is fixed when the run starts: a later change of the default reaches later runs only.
TEST(runContext, threadCountIsTakenWhenTheRunStarts) {
    const int machine = std::min(std::max(1, QThread::idealThreadCount()), 64);
    halvora::setDefaultThreadCount(1);
    runContext early;
    halvora::setDefaultThreadCount(0);
    runContext late;
    runContext explicitCount(64);
    EXPECT_EQ(early.threadCount(), 1);
    EXPECT_EQ(late.threadCount(), machine);
    EXPECT_EQ(explicitCount.threadCount(), machine) << "never more than the machine has";
    runContext::scope bind(early);
    EXPECT_EQ(halvora::usableThreadCount(), 1);
    EXPECT_EQ(halvora::parallelParts(100), 1);
}

} // namespace
