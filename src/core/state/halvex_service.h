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

struct DprSetting;
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
    // Sets the flag in one step; false when it was already set.
    bool TrySet()
    {
        bool expected = false;
        return m_value.compare_exchange_strong(expected, true);
    }

private:
    std::atomic<bool> m_value{false};
};

class CHalvexService {
public:
    static CHalvexService* GetInstance();
    // Lives until the process ends.
    ~CHalvexService() = delete;
    CHalvexService(const CHalvexService&) = delete;
    CHalvexService& operator=(const CHalvexService&) = delete;

    // The service host's three calls, in this order, on the service main thread.
    bool ServiceInit();
    // Returns once the stop is signalled, or at once when the worker did not start.
    void ServiceRun();
    void ServiceDestroy();

    void RegisterPowerEvent();
    void DeregisterPowerEvent();
    // The suspend/resume callback (system notification thread); always 1.
    static ULONG CALLBACK PowerChanged(PVOID context, ULONG type, PVOID setting);

    // Starts the worker, posts the first bring-up and runs one log-retention
    // pass; false when a worker already runs or cannot be created.
    bool ServiceTaskQueueStart();
    // The worker's body: runs tasks until the queue closes, the stop marker
    // arrives or a stop is requested after a task.
    void ServiceTaskQueueThread();
    // Ends the worker (letting a running task finish) and joins it.
    void ServiceTaskQueueStop();

    // Posts a task from any thread; a post into a closed queue is lost.
    void ServiceTaskQueuePush(TaskId id);

    // Finds the configuration entry of this machine (defined with the platform code).
    static bool VerifyPlatform(ModuleConfig& config);
    // The modem's interface id, "IfOperStatusDormant" while its adapter is
    // dormant, or empty (defined with the discovery code).
    static std::string GetMbimInterfaceID();

    // The bring-up run of a TASK_ID_DEFAULT task (worker thread only): true
    // when settings were rewritten and the modem accepted the reboot command.
    bool dealDefaultTask();
    // Stores the modem's interface id in m_szInterfaceId; also true when the
    // interface stayed dormant past the limit.
    bool tryFindMbimInterfaceID();

    // The DPR check: true when at least one set command was accepted with "OK".
    bool tryQueryAndConfigDpr(const ModuleConfig& config);
    // True when the query reply holds the setting's mode and values.
    bool parseResultAndCompare(std::string reply, const DprSetting& setting);
    // AT command texts; empty for an unknown mode.
    std::string formatQueryCommand(const DprSetting& setting);
    std::string formatConfigCommand(const DprSetting& setting);
    // Switches the modem's DPR control pin on; failures are ignored.
    void trySetDprPin();
    // True when the modem accepted the reboot command.
    bool tryRebootDevice();

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

    // Steps of dealDefaultTask; false ends the run.
    bool tryInitMbimContext();
    bool tryOpenATService();
    // A stop, a suspend or the modem's removal ends the bring-up.
    bool AbortRequested() const;
};
