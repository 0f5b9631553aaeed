// Timing and memory helpers both benchmark programs use.
#pragma once

#include "data/Table.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <QFile>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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

// The benchmarks' floor. // Rewrites 4 KiB in place and waits for the disk: the least any durable
// write can cost on this disk.
class FsyncProbe {
  public:
    explicit FsyncProbe(const QString& path) : m_path(QFile::encodeName(path)) {
        std::memset(m_buf, 'q', sizeof m_buf);
        m_fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (m_fd < 0 || ::write(m_fd, m_buf, sizeof m_buf) != ssize_t(sizeof m_buf) ||
            ::fsync(m_fd) != 0)
            throw qardel::DbError(QStringLiteral("Cannot prepare the fsync probe '%1': %2")
                                      .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    ~FsyncProbe() {
        if (m_fd >= 0) ::close(m_fd);
        ::unlink(m_path.constData());
    }
    double sample() {
        ++m_buf[m_counter++ % sizeof m_buf];
        const auto t0 = SteadyClock::now();
        if (::pwrite(m_fd, m_buf, sizeof m_buf, 0) != ssize_t(sizeof m_buf) ||
            ::fdatasync(m_fd) != 0)
            throw qardel::DbError(QStringLiteral("fsync probe: %1")
                                      .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return secondsSince(t0);
    }

  private:
    QByteArray m_path;
    int m_fd = -1;
    char m_buf[4096];
    unsigned m_counter = 0;
};

inline void setMs(benchmark::State& state, const char* name, double seconds) {
    state.counters[name] = seconds * 1e3;
}
inline void setUs(benchmark::State& state, const char* name, double seconds) {
    state.counters[name] = seconds * 1e6;
}

// The floor in a run: each iteration one durable rewrite of 4 KiB, reported
// as the median and the largest.
inline void measureFsyncFloor(benchmark::State& state, const QString& probePath) {
    FsyncProbe probe(probePath);
    Samples t;
    for (auto _ : state) {
        const double s = probe.sample();
        t.add(s);
        state.SetIterationTime(s);
    }
    setMs(state, "median_ms", t.median());
    setMs(state, "max_ms", t.max());
}

// Takes the log sizes from --sizes=, --quick or QARDEL_BENCH_SIZES, hands the
// rest of the arguments to Google Benchmark; false on an unknown argument.
inline bool initBenchmarks(int argc, char** argv, std::vector<int>* sizes) {
    *sizes = {1000, 100000, 1000000};
    auto parse = [](const QString& text) {
        std::vector<int> out;
        for (const QString& p : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const int n = p.trimmed().toInt(&ok);
            if (!ok || n < 5) {
                std::fprintf(stderr, "bad size '%s'\n", qPrintable(p));
                std::exit(2);
            }
            out.push_back(n);
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    if (!qEnvironmentVariableIsEmpty("QARDEL_BENCH_SIZES"))
        *sizes = parse(qEnvironmentVariable("QARDEL_BENCH_SIZES"));
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strncmp(argv[i], "--sizes=", 8) == 0)
            *sizes = parse(QString::fromLocal8Bit(argv[i] + 8));
        else if (i > 0 && std::strcmp(argv[i], "--quick") == 0)
            *sizes = {1000, 100000};
        else
            args.push_back(argv[i]);
    }
    int bargc = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&bargc, args.data());
    return !benchmark::ReportUnrecognizedArguments(bargc, args.data());
}

} // namespace qardel::bench
