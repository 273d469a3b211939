// The service's start, run and stop, and its suspend/resume handling.
#include <cstdio>
#include <mutex>

#include "core/state/halvex_service.h"
#include "logging/log_helper.h"
#include "mbn/varnick_mbim_manager.h"
#include "portability/power_notify.h"

namespace {

const char* const kInit = "CHalvexService::ServiceInit";
const char* const kRun = "CHalvexService::ServiceRun";
const char* const kDestroy = "CHalvexService::ServiceDestroy";
const char* const kRegister = "CHalvexService::RegisterPowerEvent";
const char* const kDeregister = "CHalvexService::DeregisterPowerEvent";
const char* const kPowerChanged = "CHalvexService::PowerChanged";

// The suspend/resume registration; g_hPowerNotify is null while not registered.
// The service main and the notification thread both change it, under g_powerLock.
// g_bPowerClosed: the destroy has ended the registration, and a resume still in
// flight must not make a new one (it would outlive the service).
std::mutex g_powerLock;
DEVICE_NOTIFY_SUBSCRIBE_PARAMETERS g_powerNotifyParams = {};
HPOWERNOTIFY g_hPowerNotify = nullptr;
bool g_bPowerClosed = false;

HPOWERNOTIFY RegisterForPowerChanges(CHalvexService* service)
{
    g_powerNotifyParams.Callback = &CHalvexService::PowerChanged;
    g_powerNotifyParams.Context = service;
    return RegisterSuspendResumeNotification(&g_powerNotifyParams, DEVICE_NOTIFY_CALLBACK);
}

// What both resume events do: register again unless registered, and leave the suspended state.
void MarkResumed(CHalvexService* service)
{
    if (!service->m_bPowerEventRegistered) {
        service->RegisterPowerEvent();
    }
    service->m_bPowerEventRegistered = true;
    service->m_bSuspended = false;
}

}  // namespace

bool CHalvexService::ServiceInit()
{
    if (m_bServiceInited) {
        LogHelper::Log(LOG_LEVEL_INFO, kInit, "Service has been inited already.");
        return false;
    }
    const int result = CVarnickMbimManager::GetInstance()->Init();
    if (result != 0) {
        LogHelper::Log(LOG_LEVEL_ERROR, kInit, "MbimManager init failed. ret = %d", result);
        return false;
    }
    HPOWERNOTIFY registration = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_powerLock);
        g_bPowerClosed = false;
        g_hPowerNotify = RegisterForPowerChanges(this);
        registration = g_hPowerNotify;
    }
    if (registration == nullptr) {
        // The service runs on without suspend/resume handling.
        LogHelper::Log(LOG_LEVEL_INFO, kInit, "RegisterSuspendResumeNotification error = 0x%08x",
                       static_cast<unsigned>(GetLastError()));
    }
    m_bServiceInited = true;
    return true;
}

void CHalvexService::ServiceRun()
{
    if (!ServiceTaskQueueStart()) {
        LogHelper::Log(LOG_LEVEL_ERROR, kRun, "service task queue failed to start.");
        return;
    }
    // The event stays set from the handler's signal on, so an early stop ends this at once.
    EnterCriticalSection(&m_csStopEvent);
    LeaveCriticalSection(&m_csStopEvent);
    WaitForSingleObject(m_hStopEvent, INFINITE);
    EnterCriticalSection(&m_csStopEvent);
    LeaveCriticalSection(&m_csStopEvent);
}

void CHalvexService::ServiceDestroy()
{
    ServiceTaskQueueStop();
    CVarnickMbimManager* manager = CVarnickMbimManager::GetInstance();
    // The modem's command session ends with the service: the manager's release
    // alone would leave it open on the modem.
    if (manager->m_device_service.load() != nullptr) {
        manager->CloseDeviceServices();
    }
    manager->UnInit();
    HPOWERNOTIFY registration = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_powerLock);
        g_bPowerClosed = true;
        registration = g_hPowerNotify;
        g_hPowerNotify = nullptr;
    }
    // Outside the lock: a callback in flight may be waiting for it.
    if (registration != nullptr) {
        UnregisterSuspendResumeNotification(registration);
    }
    m_bServiceInited = false;
    m_bATServiceOpened = false;
    m_bPowerEventRegistered = false;
    LogHelper::Log(LOG_LEVEL_INFO, kDestroy, "ServiceDestroy success");
}

void CHalvexService::RegisterPowerEvent()
{
    bool registered = false;
    {
        std::lock_guard<std::mutex> lock(g_powerLock);
        // After the destroy nothing registers again: the service is ending.
        if (g_hPowerNotify != nullptr || g_bPowerClosed) {
            return;
        }
        g_hPowerNotify = RegisterForPowerChanges(this);
        registered = g_hPowerNotify != nullptr;
    }
    LogHelper::Log(LOG_LEVEL_INFO, kRegister,
                   registered ? "RegisterSuspendResumeNotification returned success"
                              : "RegisterSuspendResumeNotification returned error");
}

void CHalvexService::DeregisterPowerEvent()
{
    std::unique_lock<std::mutex> lock(g_powerLock);
    if (g_hPowerNotify == nullptr) {
        return;
    }
    if (UnregisterSuspendResumeNotification(g_hPowerNotify)) {
        g_hPowerNotify = nullptr;
        lock.unlock();
        LogHelper::Log(LOG_LEVEL_INFO, kDeregister, "UnregisterSuspendResumeNotification success");
    } else {
        LogHelper::Log(LOG_LEVEL_INFO, kDeregister, "UnregisterSuspendResumeNotification failed error: 0x%08x",
                       static_cast<unsigned>(GetLastError()));
    }
}

ULONG CALLBACK CHalvexService::PowerChanged(PVOID, ULONG type, PVOID)
{
    CHalvexService* service = GetInstance();
    char line[256] = {};
    snprintf(line, sizeof(line), "PowerChanged: Event Type : %d", static_cast<int>(type));
    LogHelper::Log(LOG_LEVEL_INFO, kPowerChanged, "%s", line);
    switch (type) {
    case PBT_APMSUSPEND:
        // The registration stays in place: the resume events must still reach us.
        CVarnickMbimManager::GetInstance()->CloseDeviceServices();
        service->m_bSuspended = true;
        break;
    case PBT_APMRESUMESUSPEND:
        LogHelper::Log(LOG_LEVEL_INFO, kPowerChanged, "PBT_APMRESUMESUSPEND");
        MarkResumed(service);
        break;
    case PBT_APMRESUMEAUTOMATIC:
        LogHelper::Log(LOG_LEVEL_INFO, kPowerChanged, "PBT_APMRESUMEAUTOMATIC");
        MarkResumed(service);
        service->ServiceTaskQueuePush(TASK_ID_DEFAULT);
        break;
    default:
        break;
    }
    return 1;
}
