// Fixture for the manager and sink tests: a fresh simulated laptop with the
// Mobile Broadband API and the modem present, and the log running.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/state/halvex_service.h"
#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"
#include "mbn/varnick_mbim_manager.h"
#include "sim/mbn_sim.h"

class MbnTest : public MachineTest {
protected:
    void SetUp() override
    {
        // The manager and the service object live as long as the process: a second
        // case in one process would start from the first one's state (and could wait forever).
        static int casesInThisProcess = 0;
        ASSERT_EQ(++casesInThisProcess, 1) << "run one case per process, as ctest does";
        MachineTest::SetUp();
        LogHelper::Init();
    }
    void TearDown() override
    {
        // Leave nothing in flight for the process exit.
        mbn().WaitIdle();
        manager()->CloseDeviceServices();
        manager()->UnInit();
        mbn().WaitIdle();
        LogHelper::Shutdown();
    }

    static CVarnickMbimManager* manager() { return CVarnickMbimManager::GetInstance(); }
    static CHalvexService* service() { return CHalvexService::GetInstance(); }
    sim::MobileBroadband& mbn() { return machine().mbn(); }
    std::string modemId() { return mbn().InterfaceId(); }
    std::vector<sim::Clock::WaitRecord> Waits() { return machine().clock().Records(); }

    void OpenModem()
    {
        ASSERT_EQ(manager()->Init(), 0);
        ASSERT_EQ(manager()->OpenDeviceServices(modemId()), 0);
        mbn().WaitIdle();
    }

    // The ids of the waiting tasks, front first; empties the queue.
    std::vector<int> TakeTasks()
    {
        std::vector<int> ids;
        std::shared_ptr<TaskDataInfo> record;
        while (service()->m_taskQueue.Count() > 0 && service()->m_taskQueue.Pop(record)) {
            ids.push_back(record->Id());
        }
        return ids;
    }

    // Every log line, once the simulated API has delivered everything (a sink
    // may still be writing its exit line after it woke a waiter).
    std::vector<std::string> Lines()
    {
        mbn().WaitIdle();
        return testsupport::ShutdownAndReadLogMessages();
    }
    static size_t CountOf(const std::vector<std::string>& lines, const std::string& line)
    {
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
    static ULONG RefCount(IUnknown* object)
    {
        object->AddRef();
        return object->Release();
    }
};
