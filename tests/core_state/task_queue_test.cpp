#include <gtest/gtest.h>

#include <chrono>
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

// Waits until `count` threads are blocked in Pop; false after a generous bound
// (a hang would otherwise be the only symptom).
bool WaitForWaiters(CTaskQueue& queue, uint32_t count)
{
    for (int i = 0; i < 10000 && queue.Waiters() < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return queue.Waiters() == count;
}

constexpr auto kBound = std::chrono::seconds(10);

}  // namespace

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

TEST(TaskQueue, PopBlocksUntilPushAndCloseWakesEveryBlockedPop)
{
    CTaskQueue queue;
    auto pop = [&] {
        std::shared_ptr<TaskDataInfo> record;
        return queue.Pop(record) ? record->Id() : -1;
    };
    auto popped = std::async(std::launch::async, pop);
    ASSERT_TRUE(WaitForWaiters(queue, 1));
    queue.Push(Task(TASK_ID_SUPRISE_REMOVE), false);
    ASSERT_EQ(popped.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(popped.get(), TASK_ID_SUPRISE_REMOVE);

    // Should a Pop stay blocked, it is released before its future is destroyed,
    // so the test fails instead of hanging.
    struct Release {
        CTaskQueue& queue;
        ~Release()
        {
            queue.Reset();
            queue.Push(Task(TASK_ID_DEFAULT), true);
            queue.Push(Task(TASK_ID_SUPRISE_REMOVE), false);
        }
    };
    auto first = std::async(std::launch::async, pop);
    auto second = std::async(std::launch::async, pop);
    Release release{queue};
    ASSERT_TRUE(WaitForWaiters(queue, 2));
    queue.Close();
    ASSERT_EQ(first.wait_for(kBound), std::future_status::ready);
    ASSERT_EQ(second.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(first.get(), -1);
    EXPECT_EQ(second.get(), -1);
    EXPECT_EQ(queue.Waiters(), 0u);
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
    for (auto& poster : posters) {
        poster.join();
    }
    EXPECT_EQ(Drain(queue), (std::vector<int>{TASK_ID_SUPRISE_REMOVE, TASK_ID_DEFAULT}));
}
