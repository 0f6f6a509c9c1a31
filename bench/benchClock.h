#pragma once
// Wall and CPU time of the benchmarks that time their passes by hand.

#include <chrono>
#include <sys/resource.h>

namespace halvora::bench {

using clock_type = std::chrono::steady_clock;

/// Wall seconds since `t0`.
inline double seconds(clock_type::time_point t0) {
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

/// CPU seconds of the whole process (all threads): a steadier measure than wall time on a shared machine.
inline double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

} // namespace halvora::bench
