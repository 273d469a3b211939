#include "sim/service_control.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "sim/machine.h"

namespace sim {

namespace {

uint32_t CurrentThreadId()
{
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

constexpr uint32_t kOwnProcess = 0x10;
constexpr uint32_t kShareProcess = 0x20;
constexpr uintptr_t kFirstHandle = 0x5C0000;
constexpr uint32_t kAcceptStop = 1;
constexpr uint32_t kAcceptPauseContinue = 2;
constexpr uint32_t kAcceptShutdown = 4;

// The acceptance bit a control needs; 0 for the codes a service defines itself.
uint32_t AcceptanceNeeded(uint32_t control)
{
    switch (control) {
    case ServiceControl::kStop:
        return kAcceptStop;
    case ServiceControl::kPause:
    case ServiceControl::kContinue:
        return kAcceptPauseContinue;
    case ServiceControl::kShutdown:
        return kAcceptShutdown;
    default:
        return 0;
    }
}

}  // namespace

int ServiceControl::RunAsService(const std::function<int()>& entry)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_startedAsService = true;
        m_mainThreadId = CurrentThreadId();
    }
    const int result = entry();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_startedAsService = false;
    return result;
}

uint32_t ServiceControl::RefusalLocked(uint32_t control) const
{
    if (!m_dispatching || (m_current && m_current->currentState == kStopped)) {
        return kServiceNotActive;
    }
    if (m_handler == nullptr) {
        return kCannotAcceptControl;  // still starting: nothing to deliver to
    }
    // While start- or stop-pending the manager refuses every control, interrogate included.
    const uint32_t state = m_current ? m_current->currentState : kStartPending;
    if (state == kStartPending || state == kStopPending) {
        return kCannotAcceptControl;
    }
    if (control == kInterrogate) {
        return 0;
    }
    const uint32_t needed = AcceptanceNeeded(control);
    const bool userDefined = control >= 128 && control <= 255;
    if (!userDefined && (needed == 0 || (m_current->controlsAccepted & needed) == 0)) {
        return kInvalidServiceControl;
    }
    return 0;
}

uint32_t ServiceControl::Send(uint32_t control)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (const uint32_t refusal = RefusalLocked(control)) {
        return refusal;
    }
    auto pending = std::make_shared<Pending>();
    pending->control = control;
    m_controls.push_back(pending);
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return pending->answered; });
    return pending->result;
}

bool ServiceControl::AwaitState(uint32_t state, std::chrono::milliseconds realTimeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, realTimeout, [&] {
        for (const Report& report : m_reports) {
            if (report.status.currentState == state) {
                return true;
            }
        }
        return false;
    });
}

bool ServiceControl::AwaitServiceMainEnd(std::chrono::milliseconds realTimeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, realTimeout, [&] { return m_serviceMainReturned; });
}

std::vector<ServiceControl::Report> ServiceControl::Reports() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
}

uint32_t ServiceControl::MainThreadId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mainThreadId;
}

void ServiceControl::FailHandlerRegistration(uint32_t error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registrationFailure = error;
}

void ServiceControl::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_startedAsService = false;
    m_dispatching = false;
    m_serviceName.clear();
    m_handle = 0;
    m_handler = nullptr;
    m_context = nullptr;
    m_current.reset();
    m_serviceMainReturned = false;
    m_controls.clear();
    m_reports.clear();
    m_registrationFailure = 0;
    m_mainThreadId = 0;
    m_stopHold.reset();
    m_reportListener = nullptr;
}

bool ServiceControl::StartDispatcher(const std::vector<TableEntry>& table, uint32_t& error)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_startedAsService) {
        error = kFailedControllerConnect;
        return false;
    }
    if (m_dispatching) {
        error = kServiceAlreadyRunning;
        return false;
    }
    if (table.empty() || table.front().name.empty() || table.front().main == nullptr) {
        error = kInvalidData;
        return false;
    }
    // A process of its own runs the table's first service, whatever its name.
    m_dispatching = true;
    m_serviceName = table.front().name;
    m_handle = 0;
    m_handler = nullptr;
    m_current.reset();
    m_serviceMainReturned = false;
    std::thread(&ServiceControl::ServiceMainThread, this, table.front().main, table.front().name).detach();

    // The control loop: the handler runs here, on the dispatcher's caller.
    for (;;) {
        m_changed.wait(lock, [&] {
            return !m_controls.empty() || (m_current && m_current->currentState == kStopped);
        });
        if (m_controls.empty()) {
            break;
        }
        std::shared_ptr<Pending> pending = m_controls.front();
        m_controls.pop_front();
        const Handler handler = m_handler;
        void* context = m_context;
        lock.unlock();
        const uint32_t result = handler(pending->control, 0, nullptr, context);
        lock.lock();
        pending->result = result;
        pending->answered = true;
        m_changed.notify_all();
    }
    m_dispatching = false;
    m_handle = 0;
    m_handler = nullptr;
    return true;
}

void ServiceControl::ServiceMainThread(ServiceMain main, std::wstring name)
{
    wchar_t* argv[] = {&name[0], nullptr};
    main(1, argv);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_serviceMainReturned = true;
    m_stopHold.reset();
    m_changed.notify_all();
}

uintptr_t ServiceControl::RegisterHandler(const std::wstring& name, Handler handler, void* context,
                                          uint32_t& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_registrationFailure != 0) {
        error = m_registrationFailure;
        return 0;
    }
    if (handler == nullptr) {
        error = kInvalidParameter;
        return 0;
    }
    if (!m_dispatching || ToLowerAscii(Narrow(name)) != ToLowerAscii(Narrow(m_serviceName))) {
        error = kServiceNotInExe;
        return 0;
    }
    // A second registration replaces the handler and keeps the handle.
    if (m_handle == 0) {
        m_handle = m_lastHandle == 0 ? kFirstHandle : m_lastHandle + 1;
        m_lastHandle = m_handle;
    }
    m_handler = handler;
    m_context = context;
    return m_handle;
}

bool ServiceControl::SetStatus(uintptr_t handle, const Status& status, uint32_t& error)
{
    std::function<void(const Status&)> listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!RecordStatusLocked(handle, status, error)) {
            return false;
        }
        listener = m_reportListener;
    }
    if (listener) {
        listener(status);
    }
    return true;
}

void ServiceControl::SetReportListener(std::function<void(const Status& status)> listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reportListener = std::move(listener);
}

bool ServiceControl::RecordStatusLocked(uintptr_t handle, const Status& status, uint32_t& error)
{
    if (handle == 0 || handle != m_handle) {
        error = kInvalidHandle;
        return false;
    }
    if (status.currentState < kStopped || status.currentState > kPaused ||
        (status.serviceType & (kOwnProcess | kShareProcess)) == 0) {
        error = kInvalidData;
        return false;
    }
    m_reports.push_back({status, CurrentThreadId(), m_clock.Elapsed()});
    m_current = status;
    if (status.currentState == kStopped) {
        // The handle ends with the service; the process may go on until its main thread ends it.
        m_handle = 0;
        if (!m_serviceMainReturned) {
            m_stopHold = std::make_unique<Clock::Hold>(m_clock);
        }
    }
    m_changed.notify_all();
    return true;
}

}  // namespace sim
