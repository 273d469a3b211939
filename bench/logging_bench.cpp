// LogHelper against a raw spdlog logger made by the same factory (same sink,
// queue, overflow policy, pattern and flush policy) writing the same lines.
//
// Caller side: each thread times a batch of calls small enough for the queue
// (4 x 1024 < 8192), then the queue is drained untimed, so the figure is what a
// call costs its caller, never a wait for the disk. File throughput: the lines
// of all threads from the first call until the writer has written and flushed
// the last one (the library's shutdown drains the queue).
#include <benchmark/benchmark.h>

#include <spdlog/async.h>
#include <spdlog/spdlog.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "logging/async_file_logger.h"
#include "logging/log_helper.h"
#include "portability/portability.h"
#include "sim/machine.h"

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kCallerBatch = 1024;           // per thread, per iteration
constexpr int kThroughputLines = 20000;      // all threads together, per iteration
constexpr const char* kRawLoggerName = "RawBench";

// The two lines of the comparison: an info line with numbers, and an AT reply
// logged on one line (LogHelper turns its CR and LF into TAB).
enum class Line { Info, SingleLine };
constexpr const char* kReply = "\r\n+VCFG: \"sarcfg\",\"LTE\",23,3,2\r\n\r\nOK\r\n";

struct Ours {
    static void Open() { LogHelper::Init(); }
    static void Close() { LogHelper::Shutdown(); }
    static void Write(Line line, int n)
    {
        if (line == Line::Info) {
            LogHelper::Log(LOG_LEVEL_INFO, "Bench::Info", "query %d answered: +VCFG: \"sarcfg\",\"LTE\",%d,%d,%d", n, 23,
                           3, 2);
        } else {
            LogHelper::LogSingleLine("Bench::SingleLine", "at over mbim[RX]: %s", kReply);
        }
    }
};

// The raw library call a developer would write for the same line from the
// same input: the thread id formatted per call (read once per thread, the
// cheapest a raw caller could do), the reply's CR and LF turned into TAB in a
// stack copy.
struct Raw {
    static std::shared_ptr<spdlog::logger>& Logger()
    {
        static std::shared_ptr<spdlog::logger> logger;
        return logger;
    }
    static void Open()
    {
        const std::string folder = LogHelper::LogFolder();
        CreateDirectoryA("C:\\ProgramData\\Varnick Wireless Inc", nullptr);
        CreateDirectoryA(folder.c_str(), nullptr);
        Logger() = MakeAsyncFileLogger(kRawLoggerName, NativePath(folder + "\\raw_bench.log"));
    }
    static void Close()
    {
        Logger().reset();
        spdlog::shutdown();
    }
    static void Write(Line line, int n)
    {
        thread_local const unsigned threadId = static_cast<unsigned>(GetCurrentThreadId());
        if (line == Line::Info) {
            Logger()->info("{:08x} i :   query {} answered: +VCFG: \"sarcfg\",\"LTE\",{},{},{}", threadId, n, 23, 3, 2);
        } else {
            char reply[64];
            std::strcpy(reply, kReply);
            std::replace_if(reply, reply + std::strlen(reply), [](char c) { return c == '\r' || c == '\n'; }, '\t');
            Logger()->info("{:08x} i :   at over mbim[RX]: {}", threadId, reply);
        }
    }
};

// The raw call plus the two steps LogHelper's interface prescribes: the
// printf-style message (into 1024 bytes) and the stamp of the laptop's clock
// (GetSystemTimeAsFileTime). Between it and LogHelper remains only LogHelper's
// own bookkeeping: its locks and the logger's reference.
struct RawPrintf {
    static void Write(Line line, int n)
    {
        thread_local const unsigned threadId = static_cast<unsigned>(GetCurrentThreadId());
        char message[1024];
        if (line == Line::Info) {
            std::snprintf(message, sizeof(message), "query %d answered: +VCFG: \"sarcfg\",\"LTE\",%d,%d,%d", n, 23, 3, 2);
        } else {
            std::snprintf(message, sizeof(message), "at over mbim[RX]: %s", kReply);
            std::replace_if(message, message + std::strlen(message), [](char c) { return c == '\r' || c == '\n'; }, '\t');
        }
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        const std::chrono::microseconds sinceEpoch((ticks - 116444736000000000ULL) / 10);
        fmt::memory_buffer payload;
        fmt::format_to(std::back_inserter(payload), "{:08x} i :   {}", threadId, message);
        Raw::Logger()->log(spdlog::log_clock::time_point(
                               std::chrono::duration_cast<spdlog::log_clock::duration>(sinceEpoch)),
                           spdlog::source_loc{}, spdlog::level::info,
                           spdlog::string_view_t(payload.data(), payload.size()));
    }
};

void FreshLaptop()
{
    sim::Machine::Get().Reset();
}

void AwaitEmptyQueue()
{
    while (spdlog::thread_pool()->queue_size() > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Runs `body(threadIndex)` on `threads` threads released together.
template <typename Body>
void RunThreads(int threads, Body body)
{
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            ready.fetch_add(1);
            while (!go.load()) {
                std::this_thread::yield();
            }
            body(t);
        });
    }
    while (ready.load() < threads) {
        std::this_thread::yield();
    }
    go.store(true);
    for (auto& thread : pool) {
        thread.join();
    }
}

// Nanoseconds per call as the callers saw them pass, and as they ran (their
// CPU time: without the time this shared machine kept them off a core, and
// without waits for a lock).
struct CallerCost {
    double wallNs = 0;
    double cpuNs = 0;
};

// The caller-side cost of one batch on every thread; the queue is drained
// before it returns.
template <typename Logger>
CallerCost CallerBatch(int threads, Line line)
{
    std::atomic<int64_t> wallNanos{0};
    std::atomic<int64_t> cpuNanos{0};
    RunThreads(threads, [&](int t) {
        const double cpuStart = bench::ThreadCpuSeconds();
        const auto start = Steady::now();
        for (int i = 0; i < kCallerBatch; ++i) {
            Logger::Write(line, t * kCallerBatch + i);
        }
        wallNanos.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now() - start).count());
        cpuNanos.fetch_add(static_cast<int64_t>((bench::ThreadCpuSeconds() - cpuStart) * 1e9));
    });
    AwaitEmptyQueue();
    const double calls = static_cast<double>(threads) * kCallerBatch;
    return {static_cast<double>(wallNanos.load()) / calls, static_cast<double>(cpuNanos.load()) / calls};
}

// Lines per second from the first call until the last line is in the file.
template <typename Logger>
double FileRun(int threads, Line line)
{
    const int perThread = kThroughputLines / threads;
    Logger::Open();
    const auto start = Steady::now();
    RunThreads(threads, [&](int t) {
        for (int i = 0; i < perThread; ++i) {
            Logger::Write(line, t * perThread + i);
        }
    });
    Logger::Close();  // the writer writes out what is queued and ends
    return perThread * threads / std::chrono::duration<double>(Steady::now() - start).count();
}

// Both loggers run in turn within each iteration, so both see the same load
// of this shared machine; the figures are medians over the iterations.
void Report(benchmark::State& state, const char* unit, const std::vector<double>& ours,
            const std::vector<double>& raw)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size(); ++i) {
        ratios.push_back(ours[i] / raw[i]);
    }
    state.counters[std::string("ours_") + unit] = bench::Median(ours);
    state.counters[std::string("raw_") + unit] = bench::Median(raw);
    state.counters["ratio"] = bench::Median(ratios);
}

void BM_CallerSide(benchmark::State& state, Line line)
{
    const int threads = static_cast<int>(state.range(0));
    FreshLaptop();
    Ours::Open();
    Raw::Open();
    std::vector<CallerCost> ours;
    std::vector<CallerCost> raw;
    std::vector<CallerCost> rawPrintf;
    for (auto _ : state) {
        const auto start = Steady::now();
        ours.push_back(CallerBatch<Ours>(threads, line));
        raw.push_back(CallerBatch<Raw>(threads, line));
        rawPrintf.push_back(CallerBatch<RawPrintf>(threads, line));
        state.SetIterationTime(std::chrono::duration<double>(Steady::now() - start).count());
    }
    Raw::Close();
    auto pick = [](const std::vector<CallerCost>& costs, double CallerCost::*field) {
        std::vector<double> values;
        for (const CallerCost& cost : costs) {
            values.push_back(cost.*field);
        }
        return values;
    };
    using C = CallerCost;
    Report(state, "ns_per_call", pick(ours, &C::wallNs), pick(raw, &C::wallNs));
    state.counters["raw_printf_ns_per_call"] = bench::Median(pick(rawPrintf, &C::wallNs));
    state.counters["ours_cpu_ns_per_call"] = bench::Median(pick(ours, &C::cpuNs));
    state.counters["raw_cpu_ns_per_call"] = bench::Median(pick(raw, &C::cpuNs));
    state.counters["raw_printf_cpu_ns_per_call"] = bench::Median(pick(rawPrintf, &C::cpuNs));
}

void BM_FileThroughput(benchmark::State& state, Line line)
{
    const int threads = static_cast<int>(state.range(0));
    FreshLaptop();
    std::vector<double> ours;
    std::vector<double> raw;
    for (auto _ : state) {
        const auto start = Steady::now();
        ours.push_back(FileRun<Ours>(threads, line));
        raw.push_back(FileRun<Raw>(threads, line));
        state.SetIterationTime(std::chrono::duration<double>(Steady::now() - start).count());
    }
    Report(state, "lines_per_s", ours, raw);
}

void Threads(benchmark::internal::Benchmark* b)
{
    b->ArgName("threads")->Arg(1)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_CallerSide, info, Line::Info)->Apply(Threads);
BENCHMARK_CAPTURE(BM_CallerSide, single_line, Line::SingleLine)->Apply(Threads);
BENCHMARK_CAPTURE(BM_FileThroughput, info, Line::Info)->Apply(Threads);

// With the switch off a call returns before formatting anything.
void BM_LogWhenSwitchedOff(benchmark::State& state)
{
    FreshLaptop();
    sim::Machine::Get().registry().SetDword("SOFTWARE\\Varnick Wireless Inc\\Logs", "IsAll", 0);
    LogHelper::Init();
    for (auto _ : state) {
        LogHelper::Log(LOG_LEVEL_INFO, "Bench::Off", "dropped %d", 1);
    }
    LogHelper::Shutdown();
}
BENCHMARK(BM_LogWhenSwitchedOff);

}  // namespace
