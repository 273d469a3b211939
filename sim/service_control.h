// The simulated service control manager, as a service process sees it: it
// starts the program as a service, runs the dispatcher's control loop on the
// process's main thread, delivers the controls a test sends and records every
// status report.
//
// As on Windows:
//  - only a program the manager started may connect its dispatcher (1063 otherwise);
//  - the dispatcher starts the service main on a thread of its own and calls the
//    control handler on the thread that called it (the main thread);
//  - controls other than interrogate wait for a report that accepts them;
//  - the dispatcher returns once the service reported itself stopped, while the
//    service main may still be running its last steps.
// A service main that returns without a stopped report (none at all, when no
// handler was registered) leaves the dispatcher waiting for good, as on Windows:
// the process stays, and the manager sees its start time out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/clock.h"

namespace sim {

class ServiceControl {
public:
    // The Win32 values the manager deals in.
    enum State : uint32_t {
        kStopped = 1,
        kStartPending = 2,
        kStopPending = 3,
        kRunning = 4,
        kContinuePending = 5,
        kPausePending = 6,
        kPaused = 7,
    };
    enum Control : uint32_t { kStop = 1, kPause = 2, kContinue = 3, kInterrogate = 4, kShutdown = 5 };
    enum Error : uint32_t {
        kInvalidHandle = 6,
        kInvalidData = 13,
        kInvalidParameter = 87,
        kInvalidServiceControl = 1052,
        kServiceAlreadyRunning = 1056,
        kCannotAcceptControl = 1061,
        kServiceNotActive = 1062,
        kFailedControllerConnect = 1063,
        kServiceNotInExe = 1083,
    };

    using ServiceMain = void (*)(uint32_t argc, wchar_t** argv);
    using Handler = uint32_t (*)(uint32_t control, uint32_t eventType, void* eventData, void* context);

    struct Status {
        uint32_t serviceType = 0;
        uint32_t currentState = 0;
        uint32_t controlsAccepted = 0;
        uint32_t win32ExitCode = 0;
        uint32_t serviceSpecificExitCode = 0;
        uint32_t checkPoint = 0;
        uint32_t waitHint = 0;
    };
    struct Report {
        Status status;
        uint32_t threadId = 0;
        Clock::Duration time{0};  // simulated time of the report
    };
    struct TableEntry {
        std::wstring name;
        ServiceMain main = nullptr;
    };

    explicit ServiceControl(Clock& clock) : m_clock(clock) {}

    // ---- tests and the simulator ----
    // Starts the program as the manager starts a service process: `entry` (the
    // program's wWinMain) runs on the calling thread, the process's main thread;
    // returns its result.
    int RunAsService(const std::function<int()>& entry);
    // ControlService: delivers the control to the handler and waits for it. The
    // handler's result, or the manager's refusal (kCannotAcceptControl,
    // kInvalidServiceControl, kServiceNotActive).
    uint32_t Send(uint32_t control);
    // Waits (host time) until a report with `state` was made.
    bool AwaitState(uint32_t state, std::chrono::milliseconds realTimeout = std::chrono::seconds(30));
    // Waits (host time) until the service main has returned.
    bool AwaitServiceMainEnd(std::chrono::milliseconds realTimeout = std::chrono::seconds(30));
    std::vector<Report> Reports() const;
    // The thread that runs the entry and the handler.
    uint32_t MainThreadId() const;
    // Called after every accepted status report, on the reporting thread,
    // outside the manager's lock; an empty function clears it.
    void SetReportListener(std::function<void(const Status& status)> listener);
    // Every later handler registration fails with `error` (0: they succeed again).
    void FailHandlerRegistration(uint32_t error);
    // Forgets everything; call only while no service runs.
    void Reset();

    // ---- the Win32 side; each returns false / 0 with `error` set ----
    bool StartDispatcher(const std::vector<TableEntry>& table, uint32_t& error);
    uintptr_t RegisterHandler(const std::wstring& name, Handler handler, void* context, uint32_t& error);
    bool SetStatus(uintptr_t handle, const Status& status, uint32_t& error);

private:
    struct Pending {
        uint32_t control = 0;
        bool answered = false;
        uint32_t result = 0;
    };

    // The manager's answer to a control the service cannot take now, or 0.
    uint32_t RefusalLocked(uint32_t control) const;
    void ServiceMainThread(ServiceMain main, std::wstring name);
    bool RecordStatusLocked(uintptr_t handle, const Status& status, uint32_t& error);

    Clock& m_clock;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;

    bool m_startedAsService = false;
    bool m_dispatching = false;
    std::wstring m_serviceName;
    uintptr_t m_handle = 0;         // the status handle handed out in this run
    uintptr_t m_lastHandle = 0;     // handles are never reused
    Handler m_handler = nullptr;
    void* m_context = nullptr;
    std::optional<Status> m_current;  // the last report
    bool m_serviceMainReturned = false;
    std::deque<std::shared_ptr<Pending>> m_controls;
    std::vector<Report> m_reports;
    uint32_t m_registrationFailure = 0;
    uint32_t m_mainThreadId = 0;
    // From the stopped report until the service main returns, simulated time
    // stands still: its last steps take no time next to a timed wait for them.
    std::unique_ptr<Clock::Hold> m_stopHold;
    std::function<void(const Status&)> m_reportListener;
};

}  // namespace sim
