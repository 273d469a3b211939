// Fixture for the bring-up and the DPR check: a fresh simulated laptop with
// the modem present, the log running, and views of what the modem received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "config/config_model.h"
#include "core/state/halvex_service.h"
#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"
#include "mbn/varnick_mbim_manager.h"
#include "sim/mbn_sim.h"

class CoreTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        LogHelper::Init();
    }
    void TearDown() override
    {
        machine().clock().SetSleepHook(nullptr);
        mbn().WaitIdle();
        manager()->CloseDeviceServices();
        manager()->UnInit();
        mbn().WaitIdle();
        LogHelper::Shutdown();
    }

    static CVarnickMbimManager* manager() { return CVarnickMbimManager::GetInstance(); }
    static CHalvexService* service() { return CHalvexService::GetInstance(); }
    sim::MobileBroadband& mbn() { return machine().mbn(); }
    sim::Tk42nModem& modem() { return mbn().modem(); }

    void OpenModem()
    {
        ASSERT_EQ(manager()->Init(), 0);
        ASSERT_EQ(manager()->OpenDeviceServices(mbn().InterfaceId()), 0);
    }

    // The AT command texts the modem accepted, in order.
    std::vector<std::string> Commands()
    {
        mbn().WaitIdle();
        std::vector<std::string> commands;
        for (const auto& entry : mbn().Transcript()) {
            if (entry.commandId == sim::MobileBroadband::kAtCommandId && entry.accepted) {
                commands.push_back(entry.command);
            }
        }
        return commands;
    }

    // The durations of the recorded waits, in order.
    std::vector<uint32_t> Waits()
    {
        std::vector<uint32_t> waits;
        for (const auto& record : machine().clock().Sleeps()) {
            waits.push_back(record.milliseconds);
        }
        return waits;
    }

    // Every log message of the test ("i :   function, text" ...).
    std::vector<std::string> Lines()
    {
        mbn().WaitIdle();
        return testsupport::ShutdownAndReadLogMessages();
    }
};

// The lines that contain any of the texts.
inline std::vector<std::string> Only(const std::vector<std::string>& lines, const std::vector<std::string>& texts)
{
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept), [&](const std::string& line) {
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::string& text) { return line.find(text) != std::string::npos; });
    });
    return kept;
}
