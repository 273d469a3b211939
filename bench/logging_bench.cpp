// A log call must never wait for the disk: it formats into stack buffers and
// queues the line for the writer thread (a full queue of 8192 lines blocks).
#include <benchmark/benchmark.h>

#include "logging/log_helper.h"
#include "sim/machine.h"

namespace {

void StartLogging()
{
    sim::Machine::Get().Reset();
    LogHelper::Init();
}

void BM_LogInfoLine(benchmark::State& state)
{
    StartLogging();
    int n = 0;
    for (auto _ : state) {
        LogHelper::Log(LOG_LEVEL_INFO, "Bench::LogInfoLine", "query %d answered: +VCFG: \"sarcfg\",\"LTE\",%d,%d,%d",
                       n++, 23, 3, 2);
    }
    LogHelper::Shutdown();
}
BENCHMARK(BM_LogInfoLine);

void BM_LogSingleLineReply(benchmark::State& state)
{
    StartLogging();
    for (auto _ : state) {
        LogHelper::LogSingleLine("Bench::LogSingleLine", "at over mbim[RX]: %s",
                                 "\r\n+VCFG: \"sarcfg\",\"LTE\",23,3,2\r\n\r\nOK\r\n");
    }
    LogHelper::Shutdown();
}
BENCHMARK(BM_LogSingleLineReply);

void BM_LogWhenSwitchedOff(benchmark::State& state)
{
    sim::Machine::Get().Reset();
    sim::Machine::Get().registry().SetDword("SOFTWARE\\Varnick Wireless Inc\\Logs", "IsAll", 0);
    LogHelper::Init();
    for (auto _ : state) {
        LogHelper::Log(LOG_LEVEL_INFO, "Bench::Off", "dropped %d", 1);
    }
    LogHelper::Shutdown();
}
BENCHMARK(BM_LogWhenSwitchedOff);

}  // namespace
