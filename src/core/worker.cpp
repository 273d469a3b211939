// The worker thread: runs the queued tasks one at a time until the service stops.
#include <system_error>

#include "core/state/halvex_service.h"
#include "logging/log_helper.h"
#include "mbn/varnick_mbim_manager.h"
#include "portability/stack_guarantee.h"

namespace {

const char* const kStart = "CHalvexService::ServiceTaskQueueStart";
const char* const kThread = "CHalvexService::ServiceTaskQueueThread";
const char* const kStop = "CHalvexService::ServiceTaskQueueStop";

constexpr DWORD kStopPollMs = 20;

}  // namespace

bool CHalvexService::ServiceTaskQueueStart()
{
    if (!m_bTaskThreadRunning.TrySet()) {
        LogHelper::Log(LOG_LEVEL_INFO, kStart, "task thread has already run.");
        return false;
    }
    m_taskQueue.Reset();
    try {
        m_taskThread = std::thread(&CHalvexService::ServiceTaskQueueThread, this);
    } catch (const std::system_error& error) {
        // Out of threads: report a failed start and leave the process running.
        LogHelper::Log(LOG_LEVEL_ERROR, kStart, "create task thread failed: %s", error.what());
        m_bTaskThreadRunning = false;
        return false;
    }
    ServiceTaskQueuePush(TASK_ID_DEFAULT);
    LogHelper::RunLogRetention();
    return true;
}

void CHalvexService::ServiceTaskQueueThread()
{
    KeepStackForOverflow();
    LogHelper::Log(LOG_LEVEL_INFO, kThread, "start service task thread.");
    std::shared_ptr<TaskDataInfo> task;
    for (;;) {
        LogHelper::Log(LOG_LEVEL_INFO, kThread, "Wait for task from work queue...");
        if (!m_taskQueue.Pop(task)) {
            LogHelper::Log(LOG_LEVEL_INFO, kThread, "fail to get msg from task thread. ");
            break;
        }
        if (task->IsStopMarker()) {
            LogHelper::Log(LOG_LEVEL_INFO, kThread, "get null data from task thread");
            break;
        }
        if (task->Id() == TASK_ID_SUPRISE_REMOVE) {
            LogHelper::Log(LOG_LEVEL_INFO, kThread, ">>>>>> TASK_ID_SUPRISE_REMOVE");
            CVarnickMbimManager::GetInstance()->CloseDeviceServices();
        } else {
            LogHelper::Log(LOG_LEVEL_INFO, kThread, ">>>>>> TASK_ID_DEFAULT");
            if (dealDefaultTask()) {
                // The modem reboots: whatever was posted meanwhile is stale.
                m_taskQueue.Clear();
            }
        }
        if (m_bStopRequested && !m_bDeviceRemoved && !m_bSuspended) {
            m_bTaskThreadRunning = false;
            return;
        }
    }
    LogHelper::Log(LOG_LEVEL_INFO, kThread, "service task thread end.");
    m_bTaskThreadRunning = false;
}

void CHalvexService::ServiceTaskQueueStop()
{
    m_taskQueue.Push(std::make_shared<TaskDataInfo>(), true);
    m_taskQueue.Close();
    LogHelper::Log(LOG_LEVEL_INFO, kStop, "wait for task thread end.");
    while (m_bTaskThreadRunning) {
        Sleep(kStopPollMs);
    }
    LogHelper::Log(LOG_LEVEL_INFO, kStop, "task thread has been stopped successfully.");
    if (m_taskThread.joinable()) {
        m_taskQueue.Close();
        m_taskThread.join();
    }
}
