// The service object: shared flags, the bring-up's persistent state, the
// worker thread with its task queue and the stop signal.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "core/state/task_queue.h"

struct DprSetting;
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

    // Steps of dealDefaultTask; false ends the run.
    bool tryInitMbimContext();
    bool tryOpenATService();
    // A stop, a suspend or the modem's removal ends the bring-up.
    bool AbortRequested() const;
};
