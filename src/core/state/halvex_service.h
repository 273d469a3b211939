// The service object: shared flags, the bring-up's persistent state, the
// worker thread with its task queue and the stop signal.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "core/state/task_queue.h"

struct ModuleConfig;

// A flag shared between threads: a plain byte in the original design, an atomic
// with relaxed ordering here (the same behaviour without a data race). No other
// data is published through these flags, so no stronger ordering is needed.
class SharedFlag {
public:
    SharedFlag& operator=(bool value)
    {
        store(value);
        return *this;
    }
    operator bool() const { return load(); }
    void store(bool value, std::memory_order order = std::memory_order_relaxed) { m_value.store(value, order); }
    bool load(std::memory_order order = std::memory_order_relaxed) const { return m_value.load(order); }

private:
    std::atomic<bool> m_value{false};
};

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

    SharedFlag m_bPowerEventRegistered;
    SharedFlag m_bServiceInited;
    SharedFlag m_bStopRequested;
    SharedFlag m_bDeviceRemoved;
    SharedFlag m_bSuspended;
    int32_t m_nOpenRetryCount = 0;
    bool m_bATServiceOpened = false;
    char m_szInterfaceId[260] = {};
    SharedFlag m_bTaskThreadRunning;
    std::thread m_taskThread;
    HANDLE m_hStopEvent = nullptr;
    CRITICAL_SECTION m_csStopEvent;
    CTaskQueue m_taskQueue;

private:
    CHalvexService();
};
