// What the benchmarks share: medians over iterations and the time a thread ran.
#pragma once

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

}  // namespace bench
