#include "service_process.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core/state/halvex_service.h"
#include "host/service_host.h"
#include "journal.h"
#include "sim/machine.h"
#include "step_names.h"

namespace halvex_sim {
namespace {

constexpr std::chrono::milliseconds kPoll{2};         // host time between looks while the service works
constexpr std::chrono::seconds kHangLimit{30};        // host time without simulated time moving
constexpr std::chrono::milliseconds kStopTimeout{60000};
constexpr int kStillActive = 259;         // STILL_ACTIVE: the run ended with the service running

class ServiceProcess {
public:
    explicit ServiceProcess(const ProcessPlan& plan)
        : m_plan(plan), m_scenario(*plan.scenario), m_journal(JournalPath(plan.runFolder))
    {
    }

    int Run()
    {
        BuildLaptop(m_scenario, m_plan.time, m_plan.runFolder, m_plan.smbiosTable, NvramPath(m_plan.runFolder));
        ReArmLastingFaults();
        m_journal.Append("process", {std::to_string(getpid())});
        machine().mbn().modem().SetCommandListener([this](const std::string&) {
            SaveModemTable(NvramPath(m_plan.runFolder));
            Flush();
        });
        if (m_plan.startAtOnce) {
            m_service = Service::StartRequested;
            Progress("service restarted as a new process");
        }
        std::thread driver([this] { Drive(); });
        int exitCode = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_service == Service::StartRequested || m_driverDone; });
        }
        if (m_service == Service::StartRequested) {
            exitCode = machine().services().RunAsService([] {
                wchar_t commandLine[] = L"";
                return wWinMain(nullptr, nullptr, commandLine, 10);
            });
            Flush();
            m_journal.Append("exit", {std::to_string(exitCode)});
            std::lock_guard<std::mutex> lock(m_mutex);
            m_service = Service::Ended;
            m_changed.notify_all();
        }
        driver.join();
        Flush();
        return exitCode;
    }

private:
    enum class Service { NotStarted, StartRequested, Ended };

    static sim::Machine& machine() { return sim::Machine::Get(); }

    // Faults armed for good before this process's first step still hold.
    void ReArmLastingFaults()
    {
        for (size_t i = 0; i < m_plan.firstStep; ++i) {
            const Step& step = m_scenario.timeline[i];
            if (step.kind == Step::Kind::Fault && step.fault.count < 0) {
                ArmFault(step.fault);
            }
        }
    }

    void Drive()
    {
        for (size_t i = m_plan.firstStep; i < m_scenario.timeline.size(); ++i) {
            const Step& step = m_scenario.timeline[i];
            if (step.kind == Step::Kind::Start && ServiceState() == Service::Ended) {
                break;  // a new service process: the parent starts it
            }
            Progress(std::to_string(i + 1) + "/" + std::to_string(m_scenario.timeline.size()) + " " +
                     StepName(step) + " (line " + std::to_string(step.line) + ")");
            m_journal.Append("begin", {std::to_string(i)});
            Play(step);
            Flush();
            m_journal.Append("done", {std::to_string(i)});
        }
        if (ServiceState() == Service::StartRequested) {
            // The timeline is over while the service still runs: the run ends here.
            Flush();
            m_journal.Append("problem", {"the timeline ended while the service was still running"});
            m_journal.Append("exit", {std::to_string(kStillActive)});
            std::fflush(stdout);
            _exit(kStillActive);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_driverDone = true;
        m_changed.notify_all();
    }

    void Play(const Step& step)
    {
        auto& m = machine();
        using K = Step::Kind;
        switch (step.kind) {
        case K::Start:
            if (ServiceState() == Service::NotStarted) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_service = Service::StartRequested;
                m_changed.notify_all();
            } else {
                Progress("  the service is already running");
            }
            break;
        case K::Settle:
            if (!PassTime(std::chrono::milliseconds(step.ms), [this] { return Settled(); })) {
                Problem("line " + std::to_string(step.line) + ": the laptop did not settle within " +
                        std::to_string(step.ms) + " ms");
            }
            break;
        case K::Wait: PassTime(std::chrono::milliseconds(step.ms), [] { return false; }); break;
        case K::Suspend: m.power().Send(4); break;
        case K::Resume:
            m.power().Send(18);
            m.power().Send(7);
            break;
        case K::Power: m.power().Send(step.powerEvent); break;
        case K::Unplug: m.mbn().RemoveModem(); break;
        case K::Plug: m.mbn().ReturnModem(); break;
        case K::ModemState:
            m.network().SetModemAdapter(OperStatusValue(step.modemState), !m_scenario.modem || m_scenario.modem->ipv4);
            break;
        case K::Pause: Control(sim::ServiceControl::kPause, "pause"); break;
        case K::Continue: Control(sim::ServiceControl::kContinue, "continue"); break;
        case K::Stop:
            Control(sim::ServiceControl::kStop, "stop");
            if (!PassTime(kStopTimeout, [this] { return ServiceState() != Service::StartRequested; })) {
                Problem("line " + std::to_string(step.line) + ": the service process did not end after the stop");
            }
            break;
        case K::ModemSar:
            m.mbn().modem().SetSar(step.sar.mode, step.sar.band.value_or(0),
                                   {step.sar.maxpower, step.sar.rowgrads, step.sar.columngrads});
            SaveModemTable(NvramPath(m_plan.runFolder));
            break;
        case K::Fault: {
            const std::string refusal = ArmFault(step.fault);
            if (!refusal.empty()) {
                Problem("line " + std::to_string(step.line) + ": " + refusal);
            }
            break;
        }
        case K::Crash:
            Problem("line " + std::to_string(step.line) + ": this simulator cannot crash the service yet");
            break;
        }
    }

    void Control(uint32_t control, const char* name)
    {
        const uint32_t result = machine().services().Send(control);
        if (result != 0) {
            Progress(std::string("  the service control manager refused the ") + name + " control: error " +
                     std::to_string(result));
        }
    }

    // Lets simulated time pass until `done` holds (true) or `span` has passed
    // (false). The driver moves Instant time only while the service is idle,
    // one due event at a time, so that every event finds the service where
    // real time would; while the service works, its own waits move time.
    bool PassTime(std::chrono::milliseconds span, const std::function<bool()>& done)
    {
        using Steady = std::chrono::steady_clock;
        auto& clock = machine().clock();
        const sim::Clock::Duration target = clock.Elapsed() + span;
        sim::Clock::Duration lastSeen = clock.Elapsed();
        Steady::time_point lastMove = Steady::now();
        while (!done()) {
            const sim::Clock::Duration now = clock.Elapsed();
            if (now >= target) {
                return false;
            }
            if (now != lastSeen) {
                lastSeen = now;
                lastMove = Steady::now();
            } else if (Steady::now() - lastMove > kHangLimit) {
                Problem("simulated time stood still for " + std::to_string(kHangLimit.count()) +
                        " s of host time: the service seems to hang");
                return false;
            }
            if (ServiceIdle()) {
                const std::optional<sim::Clock::Duration> next = clock.NextDue();
                const sim::Clock::Duration until = next && *next < target ? *next : target;
                const auto step = std::chrono::ceil<std::chrono::milliseconds>(until - now);
                clock.Advance(static_cast<uint32_t>(std::max<int64_t>(step.count(), 1)));
            } else {
                clock.Follow(target, kPoll);
            }
        }
        return true;
    }

    // The service waits for work and no delivery of the laptop is due or running.
    bool ServiceIdle()
    {
        if (machine().clock().TimelinesBusy()) {
            return false;
        }
        return ServiceState() != Service::StartRequested || WorkerWaits();
    }

    // The service has settled in a state (no start, stop, pause or continue
    // under way) and its worker waits on an empty queue.
    bool WorkerWaits()
    {
        const auto reports = machine().services().Reports();
        const uint32_t state = reports.empty() ? 0 : reports.back().status.currentState;
        if (state != sim::ServiceControl::kRunning && state != sim::ServiceControl::kPaused) {
            return false;
        }
        CTaskQueue& queue = CHalvexService::GetInstance()->m_taskQueue;
        return queue.Waiters() == 1 && queue.Count() == 0;
    }

    // Nothing more happens by itself: no event or reboot pending, and a running
    // service's worker waits on an empty queue.
    bool Settled()
    {
        return machine().clock().TimelinesIdle() && (ServiceState() != Service::StartRequested || WorkerWaits());
    }

    Service ServiceState()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_service;
    }

    // Journals what happened on the laptop since the last call.
    void Flush()
    {
        std::lock_guard<std::mutex> lock(m_flushMutex);
        const auto transcript = machine().mbn().Transcript();
        for (; m_transcriptSeen < transcript.size(); ++m_transcriptSeen) {
            const auto& entry = transcript[m_transcriptSeen];
            if (entry.commandId == sim::MobileBroadband::kAtCommandId && !entry.reply.empty()) {
                m_journal.Append("at", {entry.command, entry.reply});
            } else if (entry.commandId == sim::MobileBroadband::kRebootCommandId && entry.accepted &&
                       entry.command == "00 11") {
                m_journal.Append("reboot");
            }
        }
        const auto reports = machine().services().Reports();
        for (; m_reportsSeen < reports.size(); ++m_reportsSeen) {
            const auto& s = reports[m_reportsSeen].status;
            m_journal.Append("status", {std::to_string(s.currentState), std::to_string(s.controlsAccepted),
                                        std::to_string(s.checkPoint), std::to_string(s.waitHint),
                                        std::to_string(s.win32ExitCode)});
        }
    }

    void Problem(const std::string& text)
    {
        Progress("  " + text);
        m_journal.Append("problem", {text});
    }

    void Progress(const std::string& text)
    {
        if (m_plan.quiet) {
            return;
        }
        const double seconds = std::chrono::duration<double>(machine().clock().Elapsed()).count();
        std::printf("[%10.3f s] %s\n", seconds, text.c_str());
        std::fflush(stdout);
    }

    const ProcessPlan& m_plan;
    const Scenario& m_scenario;
    JournalWriter m_journal;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Service m_service = Service::NotStarted;
    bool m_driverDone = false;
    std::mutex m_flushMutex;
    size_t m_transcriptSeen = 0;
    size_t m_reportsSeen = 0;
};

}  // namespace

std::string JournalPath(const std::string& runFolder)
{
    return runFolder + "/journal.txt";
}

std::string NvramPath(const std::string& runFolder)
{
    return runFolder + "/modem-nvram.txt";
}

int RunServiceProcess(const ProcessPlan& plan)
{
    return ServiceProcess(plan).Run();
}

}  // namespace halvex_sim
