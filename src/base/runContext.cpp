#include "base/runContext.h"

#include <QThread>
#include <algorithm>

std::atomic<bool> abortRequested{false};

namespace halvora {
namespace {

std::atomic<int> defaultThreads{0};
thread_local runContext* bound = nullptr;

} // namespace

int threadsFor(int configured) {
    int n = std::min(std::max(1, QThread::idealThreadCount()), 64);
    if (configured >= 1) n = std::min(n, configured);
    return n;
}

void setDefaultThreadCount(int threads) {
    defaultThreads.store(std::max(0, threads));
}
int defaultThreadCount() {
    return defaultThreads.load();
}

runContext::runContext(int threads, bool panoramaMode)
    : threads_(threadsFor(threads > 0 ? threads : defaultThreadCount())), panoramaMode_(panoramaMode) {}

void runContext::startProgress(uint64_t total) {
    total_.store(total == 0 ? 1 : total, std::memory_order_relaxed);
    done_.store(0, std::memory_order_relaxed);
}

int runContext::progressPercent() const {
    const uint64_t total = std::max<uint64_t>(1, progressTotal());
    const uint64_t done = progressDone();
    if (done >= total) return 100;
    // done × 100 overflows 64 bits for totals above 2^57.
    return static_cast<int>(static_cast<unsigned __int128>(done) * 100 / total);
}

runContext::scope::scope(runContext& context) : previous_(bound) {
    bound = &context;
}
runContext::scope::~scope() {
    bound = previous_;
}

runContext& runContext::current() {
    if (bound) return *bound;
    // The idle context follows the default thread count as it is when asked.
    static thread_local runContext idle;
    idle.threads_ = threadsFor(defaultThreadCount());
    return idle;
}

} // namespace halvora
