#include "core/state/halvex_service.h"

namespace {

// Created by the service main thread before any other thread can reach it;
// the plain pointer is the fast path of every later call.
std::shared_ptr<CHalvexService> g_serviceOwner;
CHalvexService* g_service = nullptr;

}  // namespace

CHalvexService* CHalvexService::GetInstance()
{
    if (g_service == nullptr) {
        g_serviceOwner.reset(new CHalvexService());
        g_service = g_serviceOwner.get();
    }
    return g_service;
}

CHalvexService::CHalvexService()
{
    m_hStopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    InitializeCriticalSectionAndSpinCount(&m_csStopEvent, 4000);
}

CHalvexService::~CHalvexService()
{
    DeleteCriticalSection(&m_csStopEvent);
    if (m_hStopEvent != nullptr) {
        CloseHandle(m_hStopEvent);
    }
}

void CHalvexService::ServiceTaskQueuePush(TaskId id)
{
    auto record = std::make_shared<TaskDataInfo>(id);
    m_taskQueue.Push(record, id != TASK_ID_SUPRISE_REMOVE);
}
