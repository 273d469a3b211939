// A retention pass over a log folder of 10,000 young, small log files (nothing
// to delete: the pass lists, orders and stops) against a bare
// FindFirstFile/FindNextFile listing of the same folder with the same pattern,
// both on the simulated file system the Linux build runs on. Both run in turn
// within each iteration and are timed by the CPU time of the thread
// (single-threaded work: the time it ran, not the time this shared machine
// kept it waiting).
#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "logging/log_helper.h"
#include "sim/machine.h"

namespace {

constexpr int kFiles = 10000;

// Files named as the service names its logs, a minute apart, 1 KiB each.
void FillLogFolder(const std::string& folder)
{
    sim::FileSystem& files = sim::Machine::Get().fileSystem();
    const std::string content(1024, 'x');
    for (int n = 0; n < kFiles; ++n) {
        char name[96];
        std::snprintf(name, sizeof(name), "\\varnick_dpr_service_log_2026-01-%02d_%02d.%02d.00.log", 1 + n / 1440,
                      n / 60 % 24, n % 60);
        files.WriteFile(folder + name, content);
    }
}

// What a bare listing does: every match, its size added up.
uint64_t ListFolder(const std::string& folder)
{
    const std::string pattern = folder + "\\varnick_dpr_service_log_*.log";
    uint64_t total = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            total += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return total;
}

void BM_RetentionPass(benchmark::State& state)
{
    sim::Machine::Get().Reset();
    const std::string folder = LogHelper::LogFolder();
    FillLogFolder(folder);
    LogHelper::Init();
    std::vector<double> ours;
    std::vector<double> bare;
    for (auto _ : state) {
        double start = bench::ThreadCpuSeconds();
        LogHelper::DeleteFileWhileExceedMaxSizeAndTime(folder.c_str());
        ours.push_back(bench::ThreadCpuSeconds() - start);

        start = bench::ThreadCpuSeconds();
        benchmark::DoNotOptimize(ListFolder(folder));
        bare.push_back(bench::ThreadCpuSeconds() - start);
        state.SetIterationTime(ours.back() + bare.back());
    }
    LogHelper::Shutdown();
    if (sim::Machine::Get().fileSystem().List(folder).size() < static_cast<size_t>(kFiles)) {
        state.SkipWithError("the pass deleted files it should have kept");
        return;
    }
    bench::ReportAgainstBaseline(state, ours, bare);
}
BENCHMARK(BM_RetentionPass)->ArgName("files")->Arg(kFiles)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
