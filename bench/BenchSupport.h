#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#endif

// The median wall time of a piece of work over a number of runs, in microseconds.
inline double medianMicroseconds(int runs, const std::function<void()> &work)
{
    std::vector<double> times;
    times.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline void printComparison(const char *what, double ours, const char *baselineName,
                            double baseline, const char *unit = "us")
{
    std::printf("%-58s %10.1f %s   %-26s %10.1f %s   ratio %5.2f\n", what, ours, unit, baselineName,
                baseline, unit, ours / baseline);
}

// True when bench/instructions.sh runs the program under callgrind: only the counted pieces run.
inline bool countingInstructions()
{
    return qEnvironmentVariableIsSet("BENCH_INSTRUCTIONS");
}

// Under callgrind the instructions of the work are dumped under the label, which
// bench/instructions.sh pairs as "ours|what" with "floor|what"; elsewhere the work just runs.
inline void countInstructions(const QByteArray &label, const std::function<void()> &work)
{
#ifdef CALLGRIND_DUMP_STATS_AT
    CALLGRIND_ZERO_STATS;
    work();
    CALLGRIND_DUMP_STATS_AT(label.constData());
#else
    Q_UNUSED(label);
    work();
#endif
}
