// The soak's generated timelines and the comparison of its runs' reports.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/bring_up_limits.h"
#include "scenario.h"
#include "soak.h"
#include "soak_timeline.h"

namespace {

using namespace halvex_sim;
using Kind = Step::Kind;

TEST(SoakScenario, TheSeedAloneDecidesTheText)
{
    EXPECT_EQ(SoakScenario(7, 300), SoakScenario(7, 300));
    EXPECT_NE(SoakScenario(7, 300), SoakScenario(8, 300));
}

// Every step is one that may happen where it stands, and the run ends with a
// check of the plugged, up modem by a running service.
TEST(SoakScenario, TimelinesAreLegalAndEndWithACheckOfAnUpModem)
{
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const ScenarioResult parsed = ParseScenario(SoakScenario(seed, 400), "soak.xml");
        ASSERT_TRUE(parsed.scenario) << parsed.error;
        const Scenario& scenario = *parsed.scenario;
        const auto& steps = scenario.timeline;
        EXPECT_NEAR(static_cast<double>(steps.size()), 400.0, 10.0);
        bool running = false, paused = false, plugged = true, up = true;
        uint32_t crashes = 0;
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            switch (step.kind) {
            case Kind::Start: EXPECT_FALSE(running) << "line " << step.line; running = true; break;
            case Kind::Stop: EXPECT_TRUE(running) << "line " << step.line; running = paused = false; break;
            case Kind::Crash: EXPECT_TRUE(running) << "line " << step.line; ++crashes; paused = false; break;
            case Kind::Pause: EXPECT_TRUE(running && !paused) << "line " << step.line; paused = true; break;
            case Kind::Continue: EXPECT_TRUE(running && paused) << "line " << step.line; paused = false; break;
            case Kind::Fault:
                EXPECT_TRUE(running) << "line " << step.line;
                EXPECT_GT(step.fault.count, 0) << "line " << step.line;  // one-shot faults only
                break;
            case Kind::Suspend:  // the laptop sleeps: nothing happens before the resume
                ASSERT_LT(i + 2, steps.size());
                EXPECT_EQ(steps[i + 1].kind, Kind::Wait);
                EXPECT_EQ(steps[i + 2].kind, Kind::Resume);
                break;
            case Kind::Resume: EXPECT_EQ(steps[i - 2].kind, Kind::Suspend); break;
            case Kind::Unplug: EXPECT_TRUE(plugged); plugged = false; break;
            case Kind::Plug: EXPECT_FALSE(plugged); plugged = true; break;
            case Kind::ModemState: up = step.modemState == OperStatus::Up; break;
            default: break;
            }
        }
        EXPECT_TRUE(plugged && up);
        EXPECT_FALSE(running);
        ASSERT_GE(steps.size(), 5u);
        const std::vector<Kind> closing = {Kind::Suspend, Kind::Wait, Kind::Resume, Kind::Settle, Kind::Stop};
        for (size_t i = 0; i < closing.size(); ++i) {
            EXPECT_EQ(steps[steps.size() - closing.size() + i].kind, closing[i]);
        }
        EXPECT_GT(scenario.restartLimit, crashes);
        size_t rows = 0;
        for (const Expectation& expectation : scenario.expectations) {
            rows += expectation.kind == Expectation::Kind::Sar;
        }
        EXPECT_EQ(rows, 4u);
    }
}

// The long case of a restarted service with a dormant modem and no stored
// interface id: every run reads the dormant status to the limit, fails to
// open and re-posts, up to the limit of re-posts. A settle allows that.
TEST(SoakScenario, ASettleAllowsTheLongestRePostChain)
{
    using namespace BringUpLimits;
    const uint32_t dormantRun = kInitializedWaitMs + kMaxDormantReadings * kDormantWaitMs + kOpenRetryWaitMs;
    SettleLoad load;
    const uint32_t bound = SettleBoundMs(load);
    EXPECT_GE(bound, (kMaxOpenRetries + 1) * dormantRun);
    load.tasksQueued = 3;
    load.faultsArmed = 2;
    EXPECT_EQ(SettleBoundMs(load), bound + 4 * WorstBringUpMs(0));
    EXPECT_GT(WorstBringUpMs(5000), WorstBringUpMs(0));
}

nlohmann::json Report(int pid, const std::string& reply)
{
    return {
        {"failures", nlohmann::json::array()},
        {"modem", {{"reboots", 1}}},
        {"at", {{{"tx", "at+vsar=2,1\r\n"}, {"rx", reply}}}},
        {"status", {{{"process", 1}, {"state", 4}}}},
        {"restarts",
         {{{"verb", "open"}, {"file", "cmd.exe"}, {"params", "/C taskkill /pid " + std::to_string(pid) + " /f & ping -n 3"},
           {"outcome", "ends process " + std::to_string(pid)}}}},
        {"dumps", {"/tmp/run-" + std::to_string(pid) + "/A1B2.dmp"}},
        {"processes", {{{"pid", pid}, {"exit_code", 1}}, {{"pid", pid + 7}, {"exit_code", 0}}}},
        {"log_files", {"/tmp/run-" + std::to_string(pid) + "/log"}},
        {"log", {"[12:00:0" + std::to_string(pid % 10) + "] a line"}},
    };
}

TEST(SoakReports, RunsDifferingOnlyInHostDetailsCompareEqual)
{
    const std::string first = ComparableReport(Report(4100, "\r\nOK\r\n").dump());
    EXPECT_EQ(first, ComparableReport(Report(5293, "\r\nOK\r\n").dump()));
    EXPECT_NE(first.find("taskkill /pid <process 1> /f & ping -n 3"), std::string::npos) << first;
    EXPECT_NE(first, ComparableReport(Report(4100, "\r\nERROR\r\n").dump()));
    nlohmann::json moreDumps = Report(4100, "\r\nOK\r\n");
    moreDumps["dumps"].push_back("/tmp/x.dmp");
    EXPECT_NE(first, ComparableReport(moreDumps.dump()));
}

}  // namespace
