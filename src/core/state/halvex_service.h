// The service object: shared flags, the bring-up's persistent state, the
// worker thread with its task queue and the stop signal.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "core/state/task_queue.h"

struct ModuleConfig;

class CHalvexService {
public:
    static CHalvexService* GetInstance();
    ~CHalvexService();
    CHalvexService(const CHalvexService&) = delete;
    CHalvexService& operator=(const CHalvexService&) = delete;

    // Posts a task from any thread; a post into a closed queue is lost.
    void ServiceTaskQueuePush(TaskId id);

    // Finds the configuration entry of this machine (defined with the platform code).
    static bool VerifyPlatform(ModuleConfig& config);
    // The modem's interface id, "IfOperStatusDormant" while its adapter is
    // dormant, or empty (defined with the discovery code).
    static std::string GetMbimInterfaceID();

    // Flags shared between threads. Plain bytes in the original design; atomics
    // with relaxed ordering here: the same behaviour without a data race.
    std::atomic<bool> m_bPowerEventRegistered{false};
    std::atomic<bool> m_bServiceInited{false};
    std::atomic<bool> m_bStopRequested{false};
    std::atomic<bool> m_bDeviceRemoved{false};
    std::atomic<bool> m_bSuspended{false};
    int32_t m_nOpenRetryCount = 0;
    bool m_bATServiceOpened = false;
    char m_szInterfaceId[260] = {};
    std::atomic<bool> m_bTaskThreadRunning{false};
    std::thread m_taskThread;
    HANDLE m_hStopEvent = nullptr;
    CRITICAL_SECTION m_csStopEvent;
    CTaskQueue m_taskQueue;

private:
    CHalvexService();
};
