#include <gtest/gtest.h>

#include <future>

#include "core/state/halvex_service.h"
#include "machine_fixture.h"

using ServiceObject = MachineTest;

TEST_F(ServiceObject, StartsWithEverythingClearAndAnOpenEmptyQueue)
{
    CHalvexService* service = CHalvexService::GetInstance();
    EXPECT_FALSE(service->m_bPowerEventRegistered);
    EXPECT_FALSE(service->m_bServiceInited);
    EXPECT_FALSE(service->m_bStopRequested);
    EXPECT_FALSE(service->m_bDeviceRemoved);
    EXPECT_FALSE(service->m_bSuspended);
    EXPECT_FALSE(service->m_bATServiceOpened);
    EXPECT_FALSE(service->m_bTaskThreadRunning);
    EXPECT_EQ(service->m_nOpenRetryCount, 0);
    EXPECT_STREQ(service->m_szInterfaceId, "");
    EXPECT_EQ(service->m_taskQueue.Count(), 0u);
    EXPECT_FALSE(service->m_taskThread.joinable());
    // The stop event exists, is auto-reset and not signalled.
    ASSERT_NE(service->m_hStopEvent, nullptr);
    EXPECT_EQ(WaitForSingleObject(service->m_hStopEvent, 0), WAIT_TIMEOUT);
    SetEvent(service->m_hStopEvent);
    EXPECT_EQ(WaitForSingleObject(service->m_hStopEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(service->m_hStopEvent, 0), WAIT_TIMEOUT);
}

TEST_F(ServiceObject, PostsGoThroughTheQueueWithTheRemovalInFront)
{
    CHalvexService* service = CHalvexService::GetInstance();
    service->ServiceTaskQueuePush(TASK_ID_DEFAULT);
    service->ServiceTaskQueuePush(TASK_ID_DEFAULT);
    auto poster = std::async(std::launch::async, [service] { service->ServiceTaskQueuePush(TASK_ID_SUPRISE_REMOVE); });
    poster.get();
    EXPECT_EQ(service->m_taskQueue.Count(), 2u);
    std::shared_ptr<TaskDataInfo> record;
    ASSERT_TRUE(service->m_taskQueue.Pop(record));
    EXPECT_EQ(record->Id(), TASK_ID_SUPRISE_REMOVE);
    ASSERT_TRUE(service->m_taskQueue.Pop(record));
    EXPECT_EQ(record->Id(), TASK_ID_DEFAULT);

    // After the close a post is simply lost.
    service->m_taskQueue.Close();
    service->ServiceTaskQueuePush(TASK_ID_DEFAULT);
    EXPECT_EQ(service->m_taskQueue.Count(), 0u);
}
