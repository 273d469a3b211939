#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "core/state/task_queue.h"

namespace {

std::shared_ptr<TaskDataInfo> Task(TaskId id)
{
    return std::make_shared<TaskDataInfo>(id);
}

std::shared_ptr<TaskDataInfo> StopMarker()
{
    return std::make_shared<TaskDataInfo>();
}

// Pops every waiting record of an open queue without blocking.
std::vector<int> Drain(CTaskQueue& queue)
{
    std::vector<int> ids;
    while (queue.Count() != 0) {
        std::shared_ptr<TaskDataInfo> record;
        EXPECT_TRUE(queue.Pop(record));
        ids.push_back(record->IsStopMarker() ? -1 : record->Id());
    }
    return ids;
}

// Waits (in real time, generously) until a thread is blocked in Pop.
void WaitUntilBlocked(const std::atomic<bool>& entered)
{
    while (!entered.load()) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

TEST(TaskDataInfo, TaskHoldsItsIdInAOneByteBufferAndTheStopMarkerHasNone)
{
    TaskDataInfo task(TASK_ID_SUPRISE_REMOVE);
    ASSERT_NE(task.pData, nullptr);
    EXPECT_EQ(task.pData[0], TASK_ID_SUPRISE_REMOVE);
    EXPECT_EQ(task.nLength, 1u);
    EXPECT_EQ(task.nOffset, 0u);
    EXPECT_EQ(task.nCapacity, 1u);

    TaskDataInfo marker;
    EXPECT_TRUE(marker.IsStopMarker());
    EXPECT_EQ(marker.nLength, 0u);
    EXPECT_EQ(marker.nCapacity, 0u);
}

TEST(TaskQueue, KeepsOneWaitingRecordPerIdAndPutsTheRemovalInFront)
{
    CTaskQueue queue;
    EXPECT_TRUE(queue.Push(Task(TASK_ID_DEFAULT), true));
    EXPECT_TRUE(queue.Push(Task(TASK_ID_DEFAULT), true));  // duplicate: accepted, not added
    EXPECT_EQ(queue.Count(), 1u);
    EXPECT_TRUE(queue.Push(Task(TASK_ID_SUPRISE_REMOVE), false));
    EXPECT_TRUE(queue.Push(Task(TASK_ID_SUPRISE_REMOVE), false));
    EXPECT_EQ(Drain(queue), (std::vector<int>{TASK_ID_SUPRISE_REMOVE, TASK_ID_DEFAULT}));

    // A popped record no longer waits: the same id is queued again.
    EXPECT_TRUE(queue.Push(Task(TASK_ID_DEFAULT), true));
    EXPECT_EQ(queue.Count(), 1u);
}

TEST(TaskQueue, StopMarkerIsNeverADuplicateAndCloseDropsEverything)
{
    CTaskQueue queue;
    queue.Push(Task(TASK_ID_DEFAULT), true);
    queue.Push(StopMarker(), true);
    queue.Push(StopMarker(), true);
    EXPECT_EQ(queue.Count(), 3u);
    queue.Close();
    EXPECT_EQ(queue.Count(), 0u);
    std::shared_ptr<TaskDataInfo> record;
    EXPECT_FALSE(queue.Pop(record));
    EXPECT_FALSE(queue.Push(Task(TASK_ID_DEFAULT), true));
    EXPECT_EQ(record, nullptr);
}

TEST(TaskQueue, StopMarkerGoesBehindAWaitingTask)
{
    CTaskQueue queue;
    queue.Push(Task(TASK_ID_DEFAULT), true);
    queue.Push(StopMarker(), true);
    EXPECT_EQ(Drain(queue), (std::vector<int>{TASK_ID_DEFAULT, -1}));
}

TEST(TaskQueue, PopBlocksUntilPush)
{
    CTaskQueue queue;
    std::atomic<bool> entered{false};
    auto popped = std::async(std::launch::async, [&] {
        entered = true;
        std::shared_ptr<TaskDataInfo> record;
        bool ok = queue.Pop(record);
        return ok && record && record->Id() == TASK_ID_SUPRISE_REMOVE;
    });
    WaitUntilBlocked(entered);
    EXPECT_EQ(popped.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    queue.Push(Task(TASK_ID_SUPRISE_REMOVE), false);
    EXPECT_TRUE(popped.get());
}

TEST(TaskQueue, CloseWakesEveryBlockedPop)
{
    CTaskQueue queue;
    std::atomic<int> entered{0};
    auto pop = [&] {
        ++entered;
        std::shared_ptr<TaskDataInfo> record;
        return queue.Pop(record);
    };
    auto first = std::async(std::launch::async, pop);
    auto second = std::async(std::launch::async, pop);
    while (entered.load() < 2) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.Close();
    EXPECT_FALSE(first.get());
    EXPECT_FALSE(second.get());
}

TEST(TaskQueue, ResetReopensAfterCloseWhileClearLeavesItClosed)
{
    CTaskQueue queue;
    queue.Close();
    queue.Clear();
    EXPECT_FALSE(queue.Push(Task(TASK_ID_DEFAULT), true));

    queue.Reset();
    EXPECT_TRUE(queue.Push(Task(TASK_ID_DEFAULT), true));
    queue.Push(Task(TASK_ID_SUPRISE_REMOVE), false);
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_TRUE(queue.Push(Task(TASK_ID_DEFAULT), true));  // still open
    queue.Reset();
    EXPECT_EQ(queue.Count(), 0u);
}

TEST(TaskQueue, ConcurrentPostersNeverQueueTheSameIdTwice)
{
    CTaskQueue queue;
    std::vector<std::thread> posters;
    for (int i = 0; i < 4; ++i) {
        posters.emplace_back([&] {
            for (int n = 0; n < 500; ++n) {
                queue.Push(Task(TASK_ID_DEFAULT), true);
                queue.Push(Task(TASK_ID_SUPRISE_REMOVE), false);
            }
        });
    }
    std::vector<int> seen;
    for (int n = 0; n < 200; ++n) {
        for (int id : Drain(queue)) {
            seen.push_back(id);
        }
        EXPECT_LE(queue.Count(), 2u);
    }
    for (auto& poster : posters) {
        poster.join();
    }
    EXPECT_LE(queue.Count(), 2u);
}
