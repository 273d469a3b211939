// The worker thread: which tasks run, which are dropped, and its ways out.
#include <atomic>
#include <ctime>
#include <thread>

#include "core_fixture.h"
#include "log_file.h"

namespace {

class Worker : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        ASSERT_EQ(manager()->Init(), 0);  // so every bring-up starts with its 200 ms wait
    }
    // Until the worker waits on an empty queue. The count is read first: read after
    // the waiter, it may already show the task the waiter was woken for as taken.
    // Only the worker posts once it runs, so an empty queue followed by a waiting
    // worker is an idle one.
    static void AwaitIdle()
    {
        while (service()->m_taskQueue.Count() != 0 || service()->m_taskQueue.Waiters() != 1) {
            std::this_thread::yield();
        }
    }
    std::vector<std::string> WorkerLines()
    {
        return Logged({">>>>>>", "service task thread end", "stopped successfully", "already run", "fail to get"});
    }
    // Without the line of a worker that finds the queue closed before it takes the stop marker.
    std::vector<std::string> WorkerLinesWithoutTheClosedQueue()
    {
        auto lines = WorkerLines();
        lines.erase(std::remove(lines.begin(), lines.end(), "i :   fail to get msg from task thread. "), lines.end());
        return lines;
    }
};

class TaskResult : public Worker, public ::testing::WithParamInterface<bool> {};

TEST_P(TaskResult, ARewriteDropsTheTasksPostedMeanwhileAnUnchangedTableKeepsThem)
{
    const bool rewrite = GetParam();
    if (!rewrite) {
        HoldConfiguredValues();
    }
    mbn().SetRebootTiming(3600 * 1000, 50);  // the reboot's own events come long after the test
    std::atomic<bool> posted{false};
    machine().clock().SetSleepHook([&](uint32_t ms) {
        if (ms == 200 && !posted.exchange(true)) {
            service()->ServiceTaskQueuePush(TASK_ID_SUPRISE_REMOVE);
            service()->m_taskQueue.Push(std::make_shared<TaskDataInfo>(7), true);
        }
    });
    service()->ServiceTaskQueuePush(TASK_ID_SUPRISE_REMOVE);  // before the start: never runs
    ASSERT_TRUE(service()->ServiceTaskQueueStart());
    AwaitIdle();
    service()->ServiceTaskQueueStop();
    std::vector<std::string> expected = {"i :   >>>>>> TASK_ID_DEFAULT"};
    if (!rewrite) {
        expected.insert(expected.end(), {"i :   >>>>>> TASK_ID_SUPRISE_REMOVE", "i :   >>>>>> TASK_ID_DEFAULT"});
    }
    expected.insert(expected.end(), {"i :   service task thread end.", "i :   task thread has been stopped successfully."});
    EXPECT_EQ(modem().BootCount(), rewrite ? 2u : 1u);
    EXPECT_EQ(WorkerLinesWithoutTheClosedQueue(), expected);
}
INSTANTIATE_TEST_SUITE_P(Worker, TaskResult, ::testing::Bool());

TEST_F(Worker, StopWithoutStartThenOnlyOneStartThatPrunesOldLogsAndAnIdleStop)
{
    HoldConfiguredValues();
    std::time_t now = 0;
    uint16_t ms = 0;
    machine().clock().Now(now, ms);
    const std::string old = testsupport::LogFolder() + "\\varnick_dpr_service_log_old.log";
    machine().fileSystem().WriteFile(old, "");
    machine().fileSystem().SetCreationTime(old, now - 91 * 24 * 3600);
    service()->ServiceTaskQueueStop();
    ASSERT_TRUE(service()->ServiceTaskQueueStart());
    AwaitIdle();
    EXPECT_FALSE(service()->ServiceTaskQueueStart());
    service()->ServiceTaskQueueStop();
    EXPECT_FALSE(service()->m_bTaskThreadRunning);
    EXPECT_FALSE(service()->m_taskThread.joinable());
    EXPECT_FALSE(machine().fileSystem().Exists(old));
    EXPECT_THAT(WorkerLinesWithoutTheClosedQueue(), ElementsAre("i :   task thread has been stopped successfully.", "i :   >>>>>> TASK_ID_DEFAULT",
                                   "i :   task thread has already run.", "i :   service task thread end.",
                                   "i :   task thread has been stopped successfully."));
}

TEST_F(Worker, AThreadTheSystemRefusesFailsTheStartWithoutEndingTheProcess)
{
    HoldConfiguredValues();
    machine().threads().RefuseNext(1);
    EXPECT_FALSE(service()->ServiceTaskQueueStart());
    EXPECT_FALSE(service()->m_bTaskThreadRunning);
    EXPECT_EQ(modem().BootCount(), 1u);  // no bring-up ran
    ASSERT_TRUE(service()->ServiceTaskQueueStart());  // granted again: the start goes on as usual
    AwaitIdle();
    service()->ServiceTaskQueueStop();
    const auto lines = Logged({"create task thread failed", ">>>>>>"});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("e :   create task thread failed: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "i :   >>>>>> TASK_ID_DEFAULT");
}

enum class Flag { None, Removed, Suspended };
class StopDuringABringUp : public Worker, public ::testing::WithParamInterface<Flag> {};

TEST_P(StopDuringABringUp, WaitsForItDropsTheWaitingTaskAndLeavesByTheFlags)
{
    std::atomic<bool> inBringUp{false};
    machine().clock().SetSleepHook([&](uint32_t ms) {
        if (ms != 200 || inBringUp) {
            return;
        }
        service()->ServiceTaskQueuePush(TASK_ID_SUPRISE_REMOVE);
        service()->m_bStopRequested = true;
        service()->m_bDeviceRemoved = GetParam() == Flag::Removed;
        service()->m_bSuspended = GetParam() == Flag::Suspended;
        inBringUp = true;
        // Run on until the stop has closed the queue and polled once.
        while (service()->m_taskQueue.Count() != 0 || Waits().empty() || Waits().back() != 20) {
            std::this_thread::yield();
        }
    });
    ASSERT_TRUE(service()->ServiceTaskQueueStart());
    while (!inBringUp) {
        std::this_thread::yield();
    }
    service()->ServiceTaskQueueStop();
    const bool backToTheQueue = GetParam() != Flag::None;
    std::vector<std::string> expected = {"i :   >>>>>> TASK_ID_DEFAULT"};
    if (backToTheQueue) {
        expected.insert(expected.end(), {"i :   fail to get msg from task thread. ", "i :   service task thread end."});
    }
    expected.push_back("i :   task thread has been stopped successfully.");
    EXPECT_EQ(WorkerLines(), expected);
}
INSTANTIATE_TEST_SUITE_P(Worker, StopDuringABringUp, ::testing::Values(Flag::None, Flag::Removed, Flag::Suspended));

}  // namespace
