// Timing and memory helpers both benchmark programs use.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace qardel::bench {

using SteadyClock = std::chrono::steady_clock;

inline double secondsSince(SteadyClock::time_point t0) {
    return std::chrono::duration<double>(SteadyClock::now() - t0).count();
}

inline double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <class F> double timed(F&& f) {
    const auto t0 = SteadyClock::now();
    f();
    return secondsSince(t0);
}

// Per-iteration timings, for the median and the worst case that the mean
// Google Benchmark reports hides.
struct Samples {
    std::vector<double> v;
    void add(double s) { v.push_back(s); }
    double quantile(double q) const {
        if (v.empty()) return 0;
        std::vector<double> c = v;
        const size_t k = std::min(c.size() - 1, size_t(q * double(c.size() - 1) + 0.5));
        std::nth_element(c.begin(), c.begin() + ptrdiff_t(k), c.end());
        return c[k];
    }
    double median() const { return quantile(0.5); }
    double max() const { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
};

inline long rssBytes() {
    long size = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace qardel::bench
