#include "service_process.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "core/state/halvex_service.h"
#include "host/service_host.h"
#include "journal.h"
#include "sim/crash.h"
#include "sim/machine.h"
#include "sim/threads.h"
#include "step_names.h"

namespace halvex_sim {
namespace {

constexpr std::chrono::milliseconds kPoll{2};         // host time between the driver's looks in real time
constexpr std::chrono::seconds kHangLimit{30};        // host time without simulated time moving
// Simulated time the crash path may wait before its restart request: the
// log's lock and its write-out, each bounded by a second.
constexpr std::chrono::milliseconds kCrashPathWaits{2000};
constexpr std::chrono::seconds kDriverStuckLimit{90}; // host time the driver may spend in one call (Instant time)
constexpr std::chrono::milliseconds kStopTimeout{60000};
constexpr int kStillActive = 259;         // STILL_ACTIVE: the run ended with the service running
constexpr int kKilledExitCode = 1;        // what taskkill /f leaves as the process's exit code
constexpr int kCrashSignal = SIGUSR2;     // asks the worker thread to crash
// A launched command line runs this long after the launch (cmd.exe starting):
// a process that ends itself meanwhile, as a crashed one does, is not killed.
constexpr std::chrono::milliseconds kCommandLineStart{50};

// A page the process may not touch, mapped before the service starts.
volatile int* g_forbiddenPage = nullptr;
// The worker thread, once a crash step has picked it.
pthread_t g_crashTarget;
std::atomic<bool> g_crashArmed{false};

// Runs on the thread the crash signal was sent to: a real invalid memory access
// there (the sanitizers leave it to the process's fault handling).
__attribute__((no_sanitize("address", "undefined"))) void CrashThisThread(int)
{
    // Run from the crash signal's handler, the fault must not find itself blocked
    // (a sanitizer may run handlers with every signal blocked).
    sigset_t fault;
    sigemptyset(&fault);
    sigaddset(&fault, SIGSEGV);
    pthread_sigmask(SIG_UNBLOCK, &fault, nullptr);
    g_crashArmed.store(false);  // once: the crash path's own sleeps on this thread must not fault again
    *g_forbiddenPage = 0;
}

// "id name state wchan" of every thread of this process, for a hang's report.
std::string ThreadStates()
{
    std::string states;
    for (const sim::ThreadState& thread : sim::ThreadsOfThisProcess()) {
        std::ifstream wchanFile("/proc/self/task/" + std::to_string(thread.id) + "/wchan");
        std::string wchan;
        std::getline(wchanFile, wchan);
        states += "[" + std::to_string(thread.id) + " " + thread.name + " " + thread.state + " " + wchan + "] ";
    }
    return states;
}

class ServiceProcess {
public:
    explicit ServiceProcess(const ProcessPlan& plan)
        : m_plan(plan), m_scenario(*plan.scenario), m_journal(JournalPath(plan.runFolder))
    {
    }

    int Run()
    {
        BuildLaptop(m_scenario, m_plan.time, m_plan.runFolder, m_plan.smbiosTable, NvramPath(m_plan.runFolder));
        RestoreLaptop();
        m_bound.emplace(machine().clock());
        m_journal.Append("process", {std::to_string(getpid())});
        m_launchesRead = machine().shell().Launches().size();
        machine().mbn().modem().SetCommandListener([this](const std::string&) {
            SaveModemTable(NvramPath(m_plan.runFolder));
            Flush();
        });
        // The service control manager knows the process of a service until it reports itself stopped.
        machine().services().SetReportListener([this](const sim::ServiceControl::Status& status) {
            if (status.currentState == sim::ServiceControl::kStopped) {
                machine().serviceDatabase().SetProcessId(sim::ServiceDatabase::kServiceName, 0);
            }
            Flush();
        });
        void* page = mmap(nullptr, static_cast<size_t>(sysconf(_SC_PAGESIZE)), PROT_NONE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) {
            throw std::runtime_error("cannot map the page the crash step touches");
        }
        g_forbiddenPage = static_cast<volatile int*>(page);
        struct sigaction crash = {};
        crash.sa_handler = CrashThisThread;
        sigaction(kCrashSignal, &crash, nullptr);
        if (m_plan.startAtOnce) {
            m_service = Service::StartRequested;
            Progress("service restarted as a new process");
        }
        std::thread watchdog;
        if (m_plan.time.mode == sim::Clock::Mode::Instant) {
            watchdog = std::thread([this] { Watch(); });
        }
        std::thread driver([this] { Drive(); });
        int exitCode = 0;
        bool start = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_service == Service::StartRequested || m_driverDone; });
            start = m_service == Service::StartRequested;
        }
        if (start) {
            m_journal.Append("service");
            machine().serviceDatabase().SetProcessId(sim::ServiceDatabase::kServiceName,
                                                     static_cast<uint32_t>(getpid()));
            exitCode = machine().services().RunAsService([] {
                wchar_t commandLine[] = L"";
                return wWinMain(nullptr, nullptr, commandLine, 10);
            });
            Flush();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_service = Service::Ended;
            m_changed.notify_all();
        }
        driver.join();  // it ends saying it is done, which ends the watchdog
        if (watchdog.joinable()) {
            watchdog.join();
        }
        Flush();
        return exitCode;
    }

private:
    enum class Service { NotStarted, StartRequested, Ended };

    static sim::Machine& machine() { return sim::Machine::Get(); }

    // With Instant time every call of the driver returns within moments of host
    // time. One that does not is a hang: the run ends with the threads' states
    // (as the kernel sees them) instead of waiting for an outside time-out.
    void Watch()
    {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (m_changed.wait_for(lock, std::chrono::seconds(1), [this] { return m_driverDone; })) {
                    return;
                }
            }
            const auto silent = std::chrono::steady_clock::now().time_since_epoch() -
                                std::chrono::steady_clock::duration(m_heartbeat.load());
            if (silent > kDriverStuckLimit) {
                Problem("the timeline driver has not moved for " + std::to_string(kDriverStuckLimit.count()) +
                        " s of host time; threads: " + ThreadStates());
                std::fflush(stdout);
                sim::EndProcessAtOnce(kStillActive);
            }
        }
    }

    void Beat()
    {
        m_heartbeat.store(std::chrono::steady_clock::now().time_since_epoch().count());
    }

    // The laptop outlives a service process: what the steps before this
    // process's first one did to it still holds (faults armed for good, the
    // modem unplugged, its adapter's status; its table is in its memory).
    void RestoreLaptop()
    {
        using K = Step::Kind;
        bool unplugged = false;
        const Step* modemState = nullptr;
        for (size_t i = 0; i < m_plan.firstStep; ++i) {
            const Step& step = m_scenario.timeline[i];
            if (step.kind == K::Fault && step.fault.count < 0) {
                ArmFault(step.fault);
            } else if (step.kind == K::Unplug || step.kind == K::Plug) {
                unplugged = step.kind == K::Unplug;
            } else if (step.kind == K::ModemState) {
                modemState = &step;
            }
        }
        // Only where the steps left the modem counts, not each of them.
        if (modemState != nullptr) {
            Play(*modemState);
        }
        if (unplugged) {
            machine().mbn().RemoveModem();
        }
        machine().mbn().WaitIdle();  // the news of an unplug is out before the service starts
    }

    void Drive()
    {
        if (m_plan.startAtOnce) {
            // The restart's "net start" returns once the service runs or has stopped.
            PassTime(kStopTimeout, [this] {
                return ServiceState() != Service::StartRequested ||
                       InState({sim::ServiceControl::kRunning, sim::ServiceControl::kStopped});
            });
        }
        for (size_t i = m_plan.firstStep; i < m_scenario.timeline.size(); ++i) {
            const Step& step = m_scenario.timeline[i];
            AwaitStill();
            if ((step.kind == Step::Kind::Start && ServiceState() == Service::Ended) || RestartDue()) {
                break;  // a new service process: the parent starts it
            }
            Beat();
            Progress(std::to_string(i + 1) + "/" + std::to_string(m_scenario.timeline.size()) + " " +
                     StepName(step) + " (line " + std::to_string(step.line) + ")");
            if (step.kind == Step::Kind::Crash) {
                Done(i);  // the process may not outlive it
            }
            if (!Play(step)) {
                break;  // a restart interrupted the step: the new process plays it again
            }
            Flush();
            Done(i);
        }
        if (ServiceState() == Service::StartRequested) {
            // The timeline is over while the service still runs: the run ends here.
            Flush();
            m_journal.Append("problem", {"the timeline ended while the service was still running"});
            std::fflush(stdout);
            sim::EndProcessAtOnce(kStillActive);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_driverDone = true;
        m_changed.notify_all();
    }

    // The step is over, at this simulated time.
    void Done(size_t step)
    {
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(machine().clock().Elapsed());
        m_journal.Append("done", {std::to_string(step), std::to_string(now.count())});
    }

    // False when a restart interrupted the step.
    bool Play(const Step& step)
    {
        auto& m = machine();
        using K = Step::Kind;
        const bool needsService =
            step.kind == K::Settle || step.kind == K::Stop || step.kind == K::Pause || step.kind == K::Continue;
        if (needsService && ServiceState() != Service::StartRequested) {
            // Without a service these steps would pass having checked nothing.
            Problem("line " + std::to_string(step.line) + ": " + StepName(step) + " needs a running service");
            return true;
        }
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
        case K::Settle: {
            const Passed passed = PassTime(std::chrono::milliseconds(step.ms), [this] { return Settled(); });
            if (passed == Passed::TimedOut) {
                Problem("line " + std::to_string(step.line) + ": the laptop did not settle within " +
                        std::to_string(step.ms) + " ms");
            }
            return passed != Passed::Restart;
        }
        case K::Wait:
            return PassTime(std::chrono::milliseconds(step.ms), [] { return false; }) != Passed::Restart;
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
            if (PassTime(kStopTimeout, [this] { return ServiceState() != Service::StartRequested; }) ==
                Passed::TimedOut) {
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
        case K::Crash: {
            const Passed started = PassTime(kStopTimeout, [this] {
                return ServiceState() != Service::StartRequested || ServiceUp();
            });
            if (started == Passed::Restart) {
                return false;
            }
            if (!AwaitServiceMainWaits()) {
                Problem("line " + std::to_string(step.line) + ": no running service to crash");
                break;
            }
            // The worker crashes at a point where it holds no lock: in its next
            // Sleep, or at once when it waits for work. Counted from where the
            // service has come to rest at this instant, the point is the same
            // in every run.
            AwaitStill();
            g_crashTarget = CHalvexService::GetInstance()->m_taskThread.native_handle();
            g_crashArmed.store(true);
            machine().clock().SetSleepHook([](uint32_t) {
                if (g_crashArmed.load() && pthread_equal(pthread_self(), g_crashTarget)) {
                    CrashThisThread(0);
                }
            });
            // A worker waiting for work does not sleep: the signal crashes it there,
            // once, whenever it comes to wait before its next Sleep.
            return PassTime(kStopTimeout, [this] {
                       if (!m_crashSignalled && WorkerWaits()) {
                           m_crashSignalled = true;
                           pthread_kill(g_crashTarget, kCrashSignal);
                           AwaitCrash();
                       }
                       return false;  // the process ends on its own; until then the laptop lives on
                   }) != Passed::Restart;
        }
        }
        return true;
    }

    void Control(uint32_t control, const char* name)
    {
        const uint32_t result = machine().services().Send(control);
        if (result != 0) {
            Progress(std::string("  the service control manager refused the ") + name + " control: error " +
                     std::to_string(result));
        }
    }

    enum class Passed { Done, TimedOut, Restart };

    // Lets simulated time pass until `done` holds or `span` has passed, or a
    // restart is due. Time stands still between steps (Instant time) and never
    // runs past the step's end.
    Passed PassTime(std::chrono::milliseconds span, const std::function<bool()>& done)
    {
        const Passed passed = PassTimeUntil(machine().clock().Elapsed() + span, done);
        m_bound->HoldAtNow();
        return passed;
    }

    Passed PassTimeUntil(sim::Clock::Duration target, const std::function<bool()>& done)
    {
        for (;;) {
            Beat();
            AwaitStill();
            // A service process that ended asked for its restart before it ended:
            // what `done` saw is checked for a restart after it.
            const bool isDone = done();
            if (RestartDue()) {
                return Passed::Restart;
            }
            if (isDone) {
                return Passed::Done;
            }
            if (machine().clock().Elapsed() >= target) {
                return Passed::TimedOut;
            }
            MoveTimeToward(target);
        }
    }

    // Real and scaled time move on their own: the driver follows them for a
    // few milliseconds of host time. Instant time goes to the next instant
    // where something happens (a wait's end, a delivery), and AwaitStill lets
    // the service and the laptop do all they do there before the driver
    // looks: so `done`, a restart and the next step see the same state in
    // every run, however the host schedules the threads.
    void MoveTimeToward(sim::Clock::Duration target)
    {
        auto& clock = machine().clock();
        if (m_plan.time.mode == sim::Clock::Mode::Instant) {
            AdvanceInstantTimeTo(std::min(clock.NextEvent().value_or(target), target));
        } else {
            clock.Follow(target, kPoll);
        }
    }

    // Instant time moves to `next` and no further: the bound keeps the
    // service's own waits from taking it past the driver.
    void AdvanceInstantTimeTo(sim::Clock::Duration next)
    {
        m_bound->MoveTo(next);
        machine().clock().AdvanceTo(next);
    }

    // A restart was requested through the shell: a command line that ends this
    // process (the service's) ends it once it runs (kCommandLineStart); once
    // the service process has ended, a command line that starts the service
    // again has the parent start a new one, and the timeline goes on there. The launches are read as cmd.exe
    // runs them (sim::Shell::Effects), each once.
    bool RestartDue()
    {
        const auto launches = machine().shell().Launches();
        const auto self = static_cast<uint32_t>(getpid());
        for (; m_launchesRead < launches.size(); ++m_launchesRead) {
            const auto effects =
                sim::Shell::Effects(launches[m_launchesRead], self, machine().serviceDatabase());
            if (sim::Shell::Kills(effects, self) && !m_killAt) {
                m_killAt = std::chrono::milliseconds(launches[m_launchesRead].elapsedMs) + kCommandLineStart;
            }
            m_startRequested = m_startRequested || sim::Shell::StartsService(effects);
        }
        if (ServiceState() == Service::StartRequested && m_killAt && machine().clock().Elapsed() >= *m_killAt) {
            Flush();
            std::fflush(stdout);
            sim::EndProcessAtOnce(kKilledExitCode);
        }
        return m_startRequested && ServiceState() == Service::Ended;
    }

    // The service has settled in a state (no start, stop, pause or continue
    // under way), its service main waits for the stop and its worker waits on
    // an empty queue.
    bool WorkerWaits()
    {
        // A worker sent the crash signal still counts as a waiter of the queue,
        // but it is crashing: time waits for the process to end.
        if (m_crashSignalled || !ServiceMainWaits()) {
            return false;
        }
        CTaskQueue& queue = CHalvexService::GetInstance()->m_taskQueue;
        return queue.Waiters() == 1 && queue.Count() == 0;
    }

    // The service is up and its service main, which made the first report,
    // waits for the stop: the worker thread has been started.
    bool ServiceMainWaits()
    {
        return ServiceUp() && machine().clock().IsWaiting(machine().services().Reports().front().threadId);
    }

    // The service has started and is not stopping: running, or in any state of
    // a pause or continue (a pause only reported pending leaves it working).
    bool ServiceUp()
    {
        using C = sim::ServiceControl;
        return InState({C::kRunning, C::kContinuePending, C::kPausePending, C::kPaused});
    }

    // A service that reported itself running may not have started its worker
    // yet. That takes its service main no simulated time, so time stands still
    // (between steps) while it gets there, however slowly it is scheduled.
    bool AwaitServiceMainWaits()
    {
        const auto giveUp = std::chrono::steady_clock::now() + kHangLimit;
        while (!ServiceMainWaits()) {
            Beat();
            if (ServiceState() != Service::StartRequested || std::chrono::steady_clock::now() > giveUp) {
                return false;
            }
            std::this_thread::sleep_for(kPoll);
        }
        return true;
    }

    // The signalled worker crashes and its crash path runs up to the restart
    // request (or the process's end). The driver waits in host time until the
    // worker has taken the signal (one that has not yet woken for it would
    // look as if at rest); then time moves with the crash path's own short
    // waits (its log's bounded polls), never as far as the faulting thread's
    // bound on the crash thread, which a slow host must not be able to reach.
    void AwaitCrash()
    {
        auto& clock = machine().clock();
        const size_t launchesBefore = machine().shell().Launches().size();
        const sim::Clock::Duration limit = clock.Elapsed() + kCrashPathWaits;
        const auto giveUp = std::chrono::steady_clock::now() + kHangLimit;
        while (std::chrono::steady_clock::now() < giveUp && machine().shell().Launches().size() == launchesBefore) {
            Beat();
            if (!g_crashArmed.load()) {
                AwaitStill();
                const auto next = clock.NextEvent();
                if (machine().shell().Launches().size() == launchesBefore && next && *next <= limit) {
                    AdvanceInstantTimeTo(*next);
                    continue;
                }
            }
            std::this_thread::sleep_for(kPoll);
        }
    }

    // Everything the service and the laptop do at this instant is done
    // (simulated time is held between steps): the next step finds them in the
    // same place in every run.
    void AwaitStill()
    {
        if (m_plan.time.mode == sim::Clock::Mode::Instant && !machine().clock().AwaitStill(kHangLimit)) {
            Problem("the laptop kept running for " + std::to_string(kHangLimit.count()) +
                    " s of host time without simulated time passing; threads: " + ThreadStates());
        }
    }

    // The service's last report has one of the states.
    bool InState(std::initializer_list<uint32_t> states)
    {
        const auto reports = machine().services().Reports();
        const uint32_t state = reports.empty() ? 0 : reports.back().status.currentState;
        return std::find(states.begin(), states.end(), state) != states.end();
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
    std::optional<sim::Clock::Bound> m_bound;
    std::atomic<int64_t> m_heartbeat{std::chrono::steady_clock::now().time_since_epoch().count()};  // Instant time goes no further than the step played
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Service m_service = Service::NotStarted;
    bool m_driverDone = false;
    std::mutex m_flushMutex;
    size_t m_transcriptSeen = 0;
    size_t m_reportsSeen = 0;
    size_t m_launchesRead = 0;  // the launches RestartDue has read
    bool m_crashSignalled = false;  // only the driver thread touches it
    std::optional<sim::Clock::Duration> m_killAt;  // when a launched command line ends this process
    bool m_startRequested = false;
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
