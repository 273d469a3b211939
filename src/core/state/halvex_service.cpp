#include "core/state/halvex_service.h"

CHalvexService* CHalvexService::GetInstance()
{
    // Created on first use (safely, should two threads ask at once) and never
    // destroyed: threads of the service may still reach it while the process ends.
    static CHalvexService* const instance = new CHalvexService();
    return instance;
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
