// What the benchmarks share: medians over iterations and the time a thread ran.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <vector>

namespace bench {

// The middle value (the upper one of an even count); 0 for none.
inline double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// CPU time of the calling thread in seconds: the time it ran, without the time
// it waited for a core of this shared machine or for anything else.
inline double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The medians of our times and of the baseline's (seconds, one pair per
// iteration) as counters, with the median of the per-iteration ratios.
inline void ReportAgainstBaseline(benchmark::State& state, const std::vector<double>& ours,
                                  const std::vector<double>& bare)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size() && i < bare.size(); ++i) {
        ratios.push_back(ours[i] / bare[i]);
    }
    state.counters["ours_ms"] = Median(ours) * 1e3;
    state.counters["bare_ms"] = Median(bare) * 1e3;
    state.counters["ratio"] = Median(ratios);
}

}  // namespace bench
