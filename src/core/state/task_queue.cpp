#include "core/state/task_queue.h"

TaskDataInfo::TaskDataInfo(TaskId id) : pData(new uint8_t[1]{id}), nLength(1), nOffset(0), nCapacity(1) {}

bool CTaskQueue::Push(const std::shared_ptr<TaskDataInfo>& record, bool toBack)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bOpen) {
        return false;
    }
    bool duplicate = false;
    if (record && !record->IsStopMarker()) {
        for (const auto& waiting : m_items) {
            if (waiting && !waiting->IsStopMarker() && waiting->Id() == record->Id()) {
                duplicate = true;
                break;
            }
        }
    }
    if (!duplicate) {
        if (toBack) {
            m_items.push_back(record);
        } else {
            m_items.push_front(record);
        }
        ++m_nCount;
    }
    if (m_nWaiters != 0) {
        m_cond.notify_one();
    }
    return true;
}

bool CTaskQueue::Pop(std::shared_ptr<TaskDataInfo>& record)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_bOpen) {
        return false;
    }
    while (m_nCount == 0) {
        ++m_nWaiters;
        m_cond.wait(lock);
        --m_nWaiters;
        if (!m_bOpen) {
            return false;
        }
    }
    record = m_items.front();
    m_items.pop_front();
    --m_nCount;
    return true;
}

void CTaskQueue::DropAllLocked()
{
    if (m_nCount != 0) {
        m_items.clear();
        m_nCount = 0;
    }
}

void CTaskQueue::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bOpen = true;
    DropAllLocked();
}

void CTaskQueue::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    DropAllLocked();
}

void CTaskQueue::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bOpen) {
        return;
    }
    m_bOpen = false;
    DropAllLocked();
    m_cond.notify_all();
}

uint32_t CTaskQueue::Count()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCount;
}

uint32_t CTaskQueue::Waiters()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nWaiters;
}
