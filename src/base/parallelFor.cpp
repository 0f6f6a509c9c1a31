#include "base/parallelFor.h"

#include "base/runContext.h"

#include <QRunnable>
#include <QSemaphore>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace halvora {
namespace {

std::atomic<int> threadOverride{0};

class partRunnable : public QRunnable {
public:
    partRunnable(const std::function<void(int, int64_t, int64_t)>& fn, runContext& context, int part,
                 int64_t begin, int64_t end, QSemaphore& finished)
        : fn_(fn), context_(context), part_(part), begin_(begin), end_(end), finished_(finished) {
        setAutoDelete(false);
    }
    void run() override {
        {
            runContext::scope bind(context_);
            fn_(part_, begin_, end_);
        }
        finished_.release();
    }

private:
    const std::function<void(int, int64_t, int64_t)>& fn_;
    runContext& context_;
    int part_;
    int64_t begin_, end_;
    QSemaphore& finished_;
};

} // namespace

int usableThreadCount() {
    if (int forced = threadOverride.load()) return forced;
    return runContext::current().threadCount();
}

int parallelParts(int64_t count, int maxParts) {
    if (count <= 0) return 0;
    int n = usableThreadCount();
    if (maxParts > 0) n = std::min(n, maxParts);
    return static_cast<int>(std::min<int64_t>(n, count));
}

void parallelFor(int64_t count, const std::function<void(int, int64_t, int64_t)>& fn, int maxParts) {
    const int n = parallelParts(count, maxParts);
    if (n > 0) parallelForParts(n, count, fn);
}

void parallelForParts(int n, int64_t count, const std::function<void(int, int64_t, int64_t)>& fn) {
    if (count <= 0 || n <= 0) return;
    n = static_cast<int>(std::min<int64_t>(n, count));
    const int64_t step = count / n;
    if (n == 1) {
        fn(0, 0, count);
        return;
    }
    runContext& context = runContext::current();
    QSemaphore finished;
    std::vector<std::unique_ptr<partRunnable>> parts;
    parts.reserve(size_t(n - 1));
    QThreadPool* pool = QThreadPool::globalInstance();
    for (int i = 1; i < n; ++i) {
        const int64_t end = (i == n - 1) ? count : (i + 1) * step;
        parts.push_back(std::make_unique<partRunnable>(fn, context, i, i * step, end, finished));
        pool->start(parts.back().get());
    }
    fn(0, 0, step);
    // Run whatever the pool has not started yet ourselves; then wait for the rest.
    for (auto& part : parts)
        if (pool->tryTake(part.get())) part->run();
    finished.acquire(n - 1);
}

void setThreadCountOverride(int n) {
    threadOverride.store(std::max(0, n));
}

} // namespace halvora
