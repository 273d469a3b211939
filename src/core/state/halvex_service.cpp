#include "core/state/halvex_service.h"

namespace {

// Created by the service main thread before any other thread can reach it and
// never destroyed: threads of the service may still reach it while the
// process ends.
CHalvexService* g_service = nullptr;

}  // namespace

CHalvexService* CHalvexService::GetInstance()
{
    if (g_service == nullptr) {
        g_service = new CHalvexService();
    }
    return g_service;
}

CHalvexService::CHalvexService()
{
    m_hStopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    InitializeCriticalSectionAndSpinCount(&m_csStopEvent, 4000);
}

void CHalvexService::ServiceTaskQueuePush(TaskId id)
{
    auto record = std::make_shared<TaskDataInfo>(id);
    m_taskQueue.Push(record, id != TASK_ID_SUPRISE_REMOVE);
}
