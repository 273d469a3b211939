// Task records and the blocking queue through which every event reaches the worker.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

typedef uint8_t TaskId;

constexpr TaskId TASK_ID_DEFAULT = 0;         // run the DPR bring-up; queued at the back
constexpr TaskId TASK_ID_SUPRISE_REMOVE = 1;  // the modem went away; queued at the front

// One task: a one-byte buffer holding the task id. The stop marker has no buffer.
struct TaskDataInfo {
    std::unique_ptr<uint8_t[]> pData;
    uint32_t nLength = 0;
    uint32_t nOffset = 0;
    uint32_t nCapacity = 0;

    TaskDataInfo() = default;
    explicit TaskDataInfo(TaskId id);

    bool IsStopMarker() const { return pData == nullptr; }
    TaskId Id() const { return pData[nOffset]; }
};

// Blocking queue of task records holding at most one waiting record per task id.
class CTaskQueue {
public:
    CTaskQueue() = default;
    CTaskQueue(const CTaskQueue&) = delete;
    CTaskQueue& operator=(const CTaskQueue&) = delete;

    // False only when the queue is closed. A record whose id already waits is
    // not added (the result is still true).
    bool Push(const std::shared_ptr<TaskDataInfo>& record, bool toBack);
    // Takes the front record, blocking while the queue is open and empty;
    // false when the queue is or becomes closed.
    bool Pop(std::shared_ptr<TaskDataInfo>& record);
    void Reset();  // open again, drop waiting records
    void Clear();  // drop waiting records
    void Close();  // close, drop waiting records, wake every Pop

    // Number of waiting records (for the worker's logs and for tests).
    uint32_t Count();
    // Number of threads blocked in Pop.
    uint32_t Waiters();

private:
    void DropAllLocked();

    bool m_bOpen = true;
    uint32_t m_nCount = 0;
    uint32_t m_nWaiters = 0;
    std::list<std::shared_ptr<TaskDataInfo>> m_items;
    std::mutex m_mutex;
    std::condition_variable m_cond;
};
