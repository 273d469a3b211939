// One bring-up on the simulated laptop (both settings rewritten, the pin
// commands, the reboot accepted), set up as the core tests set up theirs: a
// ModelX laptop, its configuration entry, the modem present and answering at
// once, the log running.
//  - Instant clock: the prescribed waits take no time, so the wall time is what
//    the service itself costs.
//  - Real clock: the wall time against the waits the clock recorded (the
//    simulated time each took, in whole milliseconds), with the modem answering
//    at once and with the built-in scenario's 30 ms per command.
// Between bring-ups (untimed) the reboot is let finish, the manager is closed
// down and the modem's table is set back, so every run starts from scratch.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "config/config_model.h"
#include "core/state/halvex_service.h"
#include "logging/log_helper.h"
#include "mbn/varnick_mbim_manager.h"
#include "sim/machine.h"
#include "sim/smbios_builder.h"

namespace {

using Steady = std::chrono::steady_clock;

sim::Machine& machine()
{
    return sim::Machine::Get();
}

void SetUpLaptop(sim::Clock::Mode mode, uint32_t commandLatencyMs)
{
    machine().Reset();
    machine().clock().Reset(mode);
    machine().mbn().SetCommandLatency(commandLatencyMs);
    LogHelper::Init();
    sim::SmbiosSystem system;
    system.version = "ModelX";
    machine().firmware().SetSmbiosTable(sim::SmbiosBuilder().AddSystem(system).AddProcessor("i7").Build());
    ProjectConfigList() = {{"ModelX", "single band", "", {{"LTE", 3, 23, 2, 3}, {"GSM", 0, 22, 1, 2}}}};
}

// Both settings differ from the configuration: the bring-up rewrites them.
void ResetModemTable()
{
    machine().mbn().modem().SetSar("LTE", 3, sim::Tk42nModem::kFactoryValues);
    machine().mbn().modem().SetSar("GSM", 0, sim::Tk42nModem::kFactoryValues);
}

// The reboot finished, its tasks dropped, the manager closed down.
void SettleAfterBringUp()
{
    CHalvexService* service = CHalvexService::GetInstance();
    CVarnickMbimManager* manager = CVarnickMbimManager::GetInstance();
    machine().mbn().WaitIdle();
    service->m_taskQueue.Clear();
    manager->CloseDeviceServices();
    manager->UnInit();
    machine().mbn().WaitIdle();
}

uint64_t RecordedWaitMs()
{
    uint64_t total = 0;
    for (const auto& record : machine().clock().Records()) {
        total += record.elapsedMs;
    }
    return total;
}

void BM_BringUp(benchmark::State& state, sim::Clock::Mode mode, uint32_t commandLatencyMs)
{
    SetUpLaptop(mode, commandLatencyMs);
    CHalvexService* service = CHalvexService::GetInstance();
    std::vector<double> wallMs;
    std::vector<double> waitedMs;
    std::vector<double> overMs;
    std::vector<double> cpuMs;
    size_t waits = 0;
    for (auto _ : state) {
        ResetModemTable();
        machine().clock().ClearSleeps();
        const double cpuBefore = bench::ThreadCpuSeconds();
        const auto start = Steady::now();
        const bool rebooted = service->dealDefaultTask();
        const double wall = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
        cpuMs.push_back((bench::ThreadCpuSeconds() - cpuBefore) * 1e3);  // what its own thread ran
        state.SetIterationTime(wall / 1e3);
        if (!rebooted) {
            state.SkipWithError("the bring-up did not rewrite the settings and reboot the modem");
            break;
        }
        const double waited = static_cast<double>(RecordedWaitMs());
        wallMs.push_back(wall);
        waitedMs.push_back(waited);
        overMs.push_back(wall - waited);
        waits = machine().clock().Records().size();
        SettleAfterBringUp();
    }
    LogHelper::Shutdown();
    if (wallMs.empty()) {
        return;
    }
    state.counters["wall_ms"] = bench::Median(wallMs);
    state.counters["waited_ms"] = bench::Median(waitedMs);
    state.counters["beyond_waits_ms"] = bench::Median(overMs);
    state.counters["waits"] = static_cast<double>(waits);
    state.counters["thread_cpu_ms"] = bench::Median(cpuMs);
}
BENCHMARK_CAPTURE(BM_BringUp, instant_clock, sim::Clock::Mode::Instant, 0)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BringUp, real_clock, sim::Clock::Mode::Real, 0)->UseManualTime()->Unit(benchmark::kMillisecond);
// The modem of the built-in scenario, 30 ms per command: waits of substance.
BENCHMARK_CAPTURE(BM_BringUp, real_clock_modem_30ms, sim::Clock::Mode::Real, 30)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace
