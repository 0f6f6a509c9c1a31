#include "app/processState.h"

#include <algorithm>

std::atomic<bool> abortRequested{false};

namespace halvora {

std::atomic<bool> batchModeActive{false};

progressCounters& progress() {
    static progressCounters counters;
    return counters;
}

void setProgressTotal(uint64_t total) {
    progress().total.store(total == 0 ? 1 : total, std::memory_order_relaxed);
    progress().done.store(0, std::memory_order_relaxed);
}

int progressPercent() {
    const uint64_t total = std::max<uint64_t>(1, progress().total.load(std::memory_order_relaxed));
    const uint64_t done = progress().done.load(std::memory_order_relaxed);
    if (done >= total)
        return 100;
    // done × 100 overflows 64 bits for totals above 2^57.
    return static_cast<int>(static_cast<unsigned __int128>(done) * 100 / total);
}

} // namespace halvora
