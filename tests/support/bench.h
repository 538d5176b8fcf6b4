// Timing for the benchmarks: a monotonic clock and the best of repeated runs.
#pragma once
#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

// Seconds on the performance counter.
inline double Seconds() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The best time of one run of work, over at least minRuns runs and at least minSeconds in all.
template <class Work>
double BestTime(Work&& work, double minSeconds = 1.0, int minRuns = 10) {
    double best = 1e30, total = 0;
    for (int runs = 0; runs < minRuns || total < minSeconds; ++runs) {
        const double start = Seconds();
        work();
        const double t = Seconds() - start;
        total += t;
        best = std::min(best, t);
    }
    return best;
}

// The best time of one run of each work, the works taking turns (one run each per round) until
// each has had at least minRuns runs and the rounds have lasted at least minSeconds: on a loaded
// machine the works meet the same load, so that their ratio holds where separate bests drift.
inline std::vector<double> BestTimesInTurn(const std::vector<std::function<void()>>& works, double minSeconds = 2.0,
                                           int minRuns = 10) {
    std::vector<double> best(works.size(), 1e30);
    double total = 0;
    for (int runs = 0; runs < minRuns || total < minSeconds; ++runs)
        for (size_t i = 0; i < works.size(); ++i) {
            const double start = Seconds();
            works[i]();
            const double t = Seconds() - start;
            total += t;
            best[i] = std::min(best[i], t);
        }
    return best;
}
