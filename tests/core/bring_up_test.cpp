// The bring-up in instant simulated time: its waits, limits, counters that
// outlive a run, re-posts and abort tests, and the whole road on the laptop.
#include <gmock/gmock.h>

#include <functional>
#include <tuple>

#include "core_fixture.h"
#include "sim/smbios_builder.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

enum class Modem { Up, Hidden, Dormant };

class BringUp : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        sim::SmbiosSystem system;
        system.version = "ModelX";
        machine().firmware().SetSmbiosTable(sim::SmbiosBuilder().AddSystem(system).AddProcessor("i7").Build());
        ProjectConfigList() = {{"ModelX", "single band", "", {{"LTE", 3, 23, 2, 3}, {"GSM", 0, 22, 1, 2}}}};
    }

    // What the modem's adapter shows: up, absent from the IPv4 list, or dormant.
    void Show(Modem state)
    {
        machine().network().SetModemAdapter(state == Modem::Dormant ? sim::Network::kStatusDormant
                                                                    : sim::Network::kStatusUp,
                                            state != Modem::Hidden);
    }
    // The modem shows `states[k]` from the k-th wait on.
    void ShowAtWaits(std::vector<Modem> states)
    {
        auto next = std::make_shared<size_t>(0);
        machine().clock().SetSleepHook([this, states, next](uint32_t) {
            if (*next < states.size()) {
                Show(states[(*next)++]);
            }
        });
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
            } else {
                results.push_back(service()->dealDefaultTask());
                if (results.back()) {
                    service()->m_taskQueue.Clear();
                }
            }
        }
        return results;
    }

    static std::vector<std::string> Numbered(const std::string& text, int from, int to, const std::string& end = "")
    {
        std::vector<std::string> lines;
        for (int n = from; n <= to; ++n) {
            lines.push_back(text + std::to_string(n) + end);
        }
        return lines;
    }
    template <typename T>
    static std::vector<T> Joined(std::vector<T> a, const std::vector<T>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    static std::vector<uint32_t> Times(size_t count, uint32_t ms) { return std::vector<uint32_t>(count, ms); }
};

TEST_F(BringUp, UnsupportedPlatformTouchesNothing)
{
    machine().firmware().RemoveSmbiosTable();
    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_EQ(machine().com().CreationAttempts(sim::MobileBroadband::kClsidInterfaceManager), 0);
    EXPECT_THAT(Waits(), IsEmpty());
    EXPECT_THAT(Only(Lines(), {"GetMbimInterfaceID", "ERROR"}),
                ElementsAre("e :   ERROR : current project is not supported."));
}

TEST_F(BringUp, SeventeenFailedInitsWaitSixteenSecondsAndPostNothing)
{
    mbn().FailClassCreation(sim::MobileBroadband::ManagerClass::InterfaceManager, -1);
    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_EQ(Waits(), Times(16, 1000));
    EXPECT_EQ(service()->m_taskQueue.Count(), 0u);
    EXPECT_EQ(Only(Lines(), {"init mbim"}),
              Joined<std::string>(Numbered("i :   thread init mbim context failed! retry ", 1, 16),
                                  {"i :   thread init mbim context failed! max times."}));
}

TEST_F(BringUp, ManagerInitialisedDuringARetryWaitCostsTheShortWait)
{
    mbn().FailClassCreation(sim::MobileBroadband::ManagerClass::InterfaceManager, 1);
    machine().clock().SetSleepHook([this](uint32_t ms) {
        if (ms == 1000) {
            manager()->Init();
        }
    });
    EXPECT_TRUE(service()->dealDefaultTask());
    EXPECT_THAT(Waits(), ElementsAre(1000, 200));
    EXPECT_THAT(Only(Lines(), {"ReInit"}), IsEmpty());
}

TEST_F(BringUp, TwelveEmptyLookupsEndTheRun)
{
    Show(Modem::Hidden);
    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_EQ(Waits(), Times(11, 1500));
    EXPECT_EQ(mbn().OpenSessionCalls(), 0);
    EXPECT_EQ(Only(Lines(), {"retry"}),
              Joined<std::string>(Numbered("i :   get mbim interface id failed. retry ", 1, 11, " times\n"),
                                  {"i :   retry max times. stop find!\n"}));
}

TEST_F(BringUp, DormantReadingsResetOnlyTheEmptyCountAndTheSeventeenthOpensWithNoId)
{
    // 11 empty lookups, a dormant one, 15 pairs of empty and dormant, a 17th dormant one.
    std::vector<Modem> states(10, Modem::Hidden);
    states.push_back(Modem::Dormant);
    for (int i = 0; i < 15; ++i) {
        states.insert(states.end(), {Modem::Hidden, Modem::Dormant});
    }
    states.push_back(Modem::Dormant);
    Show(Modem::Hidden);
    ShowAtWaits(states);

    EXPECT_FALSE(service()->dealDefaultTask());
    std::vector<uint32_t> waits = Joined(Times(11, 1500), Times(1, 1000));
    for (int i = 0; i < 15; ++i) {
        waits.insert(waits.end(), {1500, 1000});
    }
    EXPECT_EQ(Waits(), Joined<uint32_t>(waits, {1000, 1000}));  // the 17th reading, then the failed open
    EXPECT_STREQ(service()->m_szInterfaceId, "");
    EXPECT_THAT(Only(Lines(), {"max times", "retry count"}),
                ElementsAre("i :   retry max times. !\n",
                            "i :   open device services failed. wait for retry! retry count = 1"));
}

TEST_F(BringUp, OpenFailuresRepostTwentyOneTimesAcrossRunsUntilAnOpenSucceeds)
{
    HoldConfiguredValues();
    mbn().InjectOpenSessionFault(sim::MobileBroadband::SessionFault::CallFails);
    EXPECT_EQ(RunTasks(), std::vector<bool>(22, false));
    EXPECT_EQ(RunTasks(), std::vector<bool>(1, false));  // at the limit: no retry at all
    mbn().ClearFaults();
    EXPECT_THAT(RunTasks(), ElementsAre(false));
    manager()->CloseDeviceServices();
    mbn().InjectOpenSessionFault(sim::MobileBroadband::SessionFault::CallFails, 1);
    EXPECT_THAT(RunTasks(), ElementsAre(false, false));

    EXPECT_EQ(Waits(), Joined<uint32_t>(Times(21, 1000), {200, 200, 200, 1000}));
    const std::string max = "e :   try open decvice service arrived max times.";
    EXPECT_EQ(Only(Lines(), {"retry count", "arrived max", "successed"}),
              Joined<std::string>(Numbered("i :   open device services failed. wait for retry! retry count = ", 1, 21),
                                  {max, max, "i :   open device services successed!",
                                   "i :   open device services failed. wait for retry! retry count = 1",
                                   "i :   open device services successed!"}));
}

TEST_F(BringUp, QuerySendFailuresRepostThirtyTimesAcrossRunsUntilAQueryIsSent)
{
    HoldConfiguredValues();
    sim::MobileBroadband::CommandFault fault;
    fault.match = "\"LTE\",3\r\n";
    fault.times = 31;
    mbn().InjectCommandFault(fault);
    EXPECT_EQ(RunTasks(), std::vector<bool>(31, false));
    EXPECT_EQ(Waits(), Times(30, 500));
    EXPECT_NE(manager()->m_device_service.load(), nullptr);  // the last failure closes nothing

    EXPECT_THAT(RunTasks(), ElementsAre(false));
    fault.times = 1;
    mbn().InjectCommandFault(fault);
    EXPECT_THAT(RunTasks(), ElementsAre(false, false));
    EXPECT_EQ(Only(Lines(), {"Error send"}),
              Joined<std::string>(Numbered("i :   Error send.retry count = ", 1, 30),
                                  {"i :   Error sending arrived max times", "i :   Error send.retry count = 1"}));
}

// A stop, a suspend or a removal during each kind of wait after which the run would go on.
enum class Wait { Initialised, InitRetry, EmptyLookup, Dormant };
using AbortCase = std::tuple<Wait, SharedFlag CHalvexService::*>;

class Abort : public BringUp, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(Abort, EndsTheRunRightAfterTheWait)
{
    const Wait wait = std::get<0>(GetParam());
    if (wait == Wait::Initialised) {
        ASSERT_EQ(manager()->Init(), 0);
    }
    if (wait == Wait::InitRetry) {
        mbn().FailClassCreation(sim::MobileBroadband::ManagerClass::InterfaceManager, -1);
    }
    Show(wait == Wait::EmptyLookup ? Modem::Hidden : wait == Wait::Dormant ? Modem::Dormant : Modem::Up);
    auto flag = std::get<1>(GetParam());
    machine().clock().SetSleepHook([this, flag](uint32_t) { (service()->*flag).store(true); });

    EXPECT_FALSE(service()->dealDefaultTask());
    const uint32_t expected[] = {200, 1000, 1500, 1000};
    EXPECT_THAT(Waits(), ElementsAre(expected[static_cast<int>(wait)]));
    EXPECT_EQ(machine().com().CreationAttempts(sim::MobileBroadband::kClsidInterfaceManager), 1);
    EXPECT_EQ(mbn().OpenSessionCalls(), 0);
}

std::string AbortName(const ::testing::TestParamInfo<AbortCase>& info)
{
    static const char* const kWaits[] = {"Initialised", "InitRetry", "EmptyLookup", "Dormant"};
    const auto flag = std::get<1>(info.param);
    return std::string(kWaits[static_cast<int>(std::get<0>(info.param))]) +
           (flag == &CHalvexService::m_bStopRequested ? "Stop"
            : flag == &CHalvexService::m_bSuspended   ? "Suspend"
                                                      : "Removal");
}

INSTANTIATE_TEST_SUITE_P(BringUp, Abort,
                         ::testing::Combine(::testing::Values(Wait::Initialised, Wait::InitRetry, Wait::EmptyLookup,
                                                              Wait::Dormant),
                                            ::testing::Values(&CHalvexService::m_bStopRequested,
                                                              &CHalvexService::m_bSuspended,
                                                              &CHalvexService::m_bDeviceRemoved)),
                         AbortName);

TEST_F(BringUp, AbortFlagsAreOnlyLookedAtAfterWaits)
{
    service()->m_bStopRequested = true;
    EXPECT_TRUE(service()->dealDefaultTask());
    EXPECT_THAT(Waits(), IsEmpty());
}

TEST_F(BringUp, SessionClosedAfterTheCheckSkipsPinAndReboot)
{
    modem().SetCommandListener([this](const std::string& command) {
        if (command.find("\"GSM\",22,") != std::string::npos) {
            manager()->CloseDeviceServices();  // as a removal or a suspend does
        }
    });
    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_EQ(modem().Sar("GSM"), (sim::SarValues{22, 1, 2}));
    EXPECT_THAT(modem().PinCommands(), IsEmpty());
    EXPECT_EQ(mbn().Transcript().back().commandId, sim::MobileBroadband::kAtCommandId);
    const auto lines = Lines();
    EXPECT_EQ(Only(lines, {"[RX]"}).size(), 4u);  // the last set was answered
    EXPECT_THAT(Only(lines, {"[TX]"}), testing::Not(testing::Contains(testing::HasSubstr("vsar"))));
}

TEST_F(BringUp, EndToEndRewritesPinsRebootsAndFindsEverythingInPlaceAfterwards)
{
    EXPECT_TRUE(service()->dealDefaultTask());
    EXPECT_TRUE(mbn().WaitIdle());  // the reboot: removal, then arrival
    EXPECT_EQ(service()->m_taskQueue.Count(), 2u);
    EXPECT_THAT(RunTasks(false), ElementsAre(false));

    EXPECT_EQ(modem().Sar("LTE", 3), (sim::SarValues{23, 2, 3}));
    EXPECT_EQ(modem().Sar("GSM"), (sim::SarValues{22, 1, 2}));
    EXPECT_EQ(modem().BootCount(), 2u);
    EXPECT_THAT(Commands(), ElementsAre("at+vcfg=\"sarcfg\",\"LTE\",3\r\n", "at+vcfg=\"sarcfg\",\"LTE\",23,2,3,3\r\n",
                                        "at+vcfg=\"sarcfg\",\"GSM\"\r\n", "at+vcfg=\"sarcfg\",\"GSM\",22,1,2\r\n",
                                        "at+vcfg=\"rf/sar/gpioctl\",1,250\r\n", "at+vsar=2,1\r\n",
                                        "at+vcfg=\"sarcfg\",\"LTE\",3\r\n", "at+vcfg=\"sarcfg\",\"GSM\"\r\n"));
    EXPECT_THAT(Waits(), ElementsAre(200));
    EXPECT_THAT(Only(Lines(), {"ReInit", "successed", "reboot"}),
                ElementsAre("i :   ReInit Mbim Success!", "i :   open device services successed!",
                            "i :   wait for device reboot...", "i :   open device services successed!"));
}

}  // namespace
