// Fixture for the bring-up and the DPR check: a fresh simulated laptop of the
// configured model with the modem present, the log running, and views of what
// the modem received, what the service waited and what it logged.
#pragma once

#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/config_model.h"
#include "mbn_manager_fixture.h"
#include "sim/smbios_builder.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

enum class Modem { Up, Hidden, Dormant };

class CoreTest : public MbnTest {
protected:
    void SetUp() override
    {
        MbnTest::SetUp();
        sim::SmbiosSystem system;
        system.version = "ModelX";
        machine().firmware().SetSmbiosTable(sim::SmbiosBuilder().AddSystem(system).AddProcessor("i7").Build());
        ProjectConfigList() = {{"ModelX", "single band", "", {{"LTE", 3, 23, 2, 3}, {"GSM", 0, 22, 1, 2}}}};
    }
    void TearDown() override
    {
        machine().clock().SetSleepHook(nullptr);
        MbnTest::TearDown();
    }

    sim::Tk42nModem& modem() { return mbn().modem(); }

    // What the modem's adapter shows: up, absent from the IPv4 list, or dormant.
    void Show(Modem state)
    {
        machine().network().SetModemAdapter(
            state == Modem::Dormant ? sim::Network::kStatusDormant : sim::Network::kStatusUp, state != Modem::Hidden);
    }
    void HoldConfiguredValues()
    {
        modem().SetSar("LTE", 3, {23, 2, 3});
        modem().SetSar("GSM", 0, {22, 1, 2});
    }

    // Posts a task (unless told not to) and runs the waiting tasks as the
    // worker does; the results of the bring-up runs.
    std::vector<bool> RunTasks(bool post = true)
    {
        if (post) {
            service()->ServiceTaskQueuePush(TASK_ID_DEFAULT);
        }
        std::vector<bool> results;
        std::shared_ptr<TaskDataInfo> task;
        while (service()->m_taskQueue.Count() > 0 && service()->m_taskQueue.Pop(task)) {
            if (task->Id() == TASK_ID_SUPRISE_REMOVE) {
                manager()->CloseDeviceServices();
                continue;
            }
            results.push_back(service()->dealDefaultTask());
            if (results.back()) {
                service()->m_taskQueue.Clear();
            }
        }
        return results;
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
    // The durations of the recorded sleeps, in order.
    std::vector<uint32_t> Waits()
    {
        const auto sleeps = machine().clock().Sleeps();
        std::vector<uint32_t> waits(sleeps.size());
        std::transform(sleeps.begin(), sleeps.end(), waits.begin(), [](const auto& r) { return r.milliseconds; });
        return waits;
    }
    // The test's log messages ("i :   text" ...) that contain any of the texts.
    // It ends the logging: call it once, last.
    std::vector<std::string> Logged(const std::vector<std::string>& texts)
    {
        mbn().WaitIdle();
        std::vector<std::string> kept;
        for (const auto& line : testsupport::ShutdownAndReadLogMessages()) {
            if (std::any_of(texts.begin(), texts.end(), [&](const auto& text) { return line.find(text) != line.npos; })) {
                kept.push_back(line);
            }
        }
        return kept;
    }
    // "<text>1<end>" ... "<text><count><end>", then the tail.
    static std::vector<std::string> Numbered(const std::string& text, int count, const std::string& end,
                                             std::vector<std::string> tail)
    {
        for (int n = count; n >= 1; --n) {
            tail.insert(tail.begin(), text + std::to_string(n) + end);
        }
        return tail;
    }
};
