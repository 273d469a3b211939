// The bring-up in instant simulated time: its waits, limits, counters that
// outlive a run, re-posts and abort tests, and the whole road on the laptop.
#include <algorithm>
#include <memory>
#include <tuple>

#include "core_fixture.h"

namespace {

using BringUp = CoreTest;
using sim::MobileBroadband;

TEST_F(BringUp, UnsupportedPlatformTouchesNothing)
{
    machine().firmware().RemoveSmbiosTable();
    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_EQ(machine().com().CreationAttempts(MobileBroadband::kClsidInterfaceManager), 0);
    EXPECT_THAT(Waits(), IsEmpty());
    EXPECT_THAT(Logged({"GetMbimInterfaceID", "ERROR"}), ElementsAre("e :   ERROR : current project is not supported."));
}

TEST_F(BringUp, SeventeenFailedInitsWaitSixteenSecondsAndPostNothing)
{
    mbn().FailClassCreation(MobileBroadband::ManagerClass::InterfaceManager, -1);
    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_EQ(Waits(), std::vector<uint32_t>(16, 1000));
    EXPECT_EQ(service()->m_taskQueue.Count(), 0u);
    EXPECT_EQ(Logged({"init mbim"}), Numbered("i :   thread init mbim context failed! retry ", 16, "",
                                              {"i :   thread init mbim context failed! max times."}));
}

TEST_F(BringUp, ManagerInitialisedDuringARetryWaitCostsTheShortWait)
{
    mbn().FailClassCreation(MobileBroadband::ManagerClass::InterfaceManager, 1);
    machine().clock().SetSleepHook([](uint32_t ms) {
        if (ms == 1000) {
            manager()->Init();
        }
    });
    EXPECT_TRUE(service()->dealDefaultTask());
    EXPECT_THAT(Waits(), ElementsAre(1000, 200));
    EXPECT_THAT(Logged({"ReInit"}), IsEmpty());
}

TEST_F(BringUp, TwelveEmptyLookupsEndTheRun)
{
    Show(Modem::Hidden);
    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_EQ(Waits(), std::vector<uint32_t>(11, 1500));
    EXPECT_EQ(mbn().OpenSessionCalls(), 0);
    EXPECT_EQ(Logged({"retry"}), Numbered("i :   get mbim interface id failed. retry ", 11, " times\n",
                                          {"i :   retry max times. stop find!\n"}));
}

TEST_F(BringUp, DormantReadingsResetOnlyTheEmptyCountAndTheSeventeenthOpensWithNoId)
{
    // 11 empty lookups, then 16 dormant readings each followed by an empty lookup, a 17th dormant one.
    std::vector<Modem> seen(11, Modem::Hidden);
    for (int i = 0; i < 16; ++i) {
        seen.insert(seen.end(), {Modem::Dormant, Modem::Hidden});
    }
    seen.push_back(Modem::Dormant);
    std::vector<uint32_t> waits;
    for (Modem state : seen) {
        waits.push_back(state == Modem::Hidden ? 1500 : 1000);
    }
    waits.push_back(1000);  // the failed open
    auto next = std::make_shared<size_t>(0);
    Show(seen[0]);
    machine().clock().SetSleepHook([this, seen, next](uint32_t) { Show(seen[std::min(++*next, seen.size() - 1)]); });

    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_EQ(Waits(), waits);
    EXPECT_STREQ(service()->m_szInterfaceId, "");
    EXPECT_THAT(Logged({"max times", "retry count"}),
                ElementsAre("i :   retry max times. !\n",
                            "i :   open device services failed. wait for retry! retry count = 1"));
}

TEST_F(BringUp, AnOpenDeviceServiceIsKeptForTheNextRunAndAClosedOneOpenedAgain)
{
    HoldConfiguredValues();
    EXPECT_THAT(RunTasks(), ElementsAre(false));
    EXPECT_THAT(RunTasks(), ElementsAre(false));
    EXPECT_EQ(mbn().OpenSessionCalls(), 1);
    manager()->CloseDeviceServices();
    EXPECT_THAT(RunTasks(), ElementsAre(false));
    EXPECT_EQ(mbn().OpenSessionCalls(), 2);
    EXPECT_EQ(Commands().size(), 6u);
}

// Dormant readings up to the limit go on with the id an earlier run found.
TEST_F(BringUp, DormantReadingsAtTheLimitOpenWithTheIdOfAnEarlierRun)
{
    HoldConfiguredValues();
    EXPECT_THAT(RunTasks(), ElementsAre(false));
    manager()->CloseDeviceServices();  // as a suspend does
    Show(Modem::Dormant);
    EXPECT_THAT(RunTasks(), ElementsAre(false));
    EXPECT_STREQ(service()->m_szInterfaceId, mbn().InterfaceId().c_str());
    EXPECT_EQ(mbn().OpenSessionCalls(), 2);
    std::vector<uint32_t> waits(17, 1000);
    waits.insert(waits.begin(), 200);  // the first run initialised the manager itself
    EXPECT_EQ(Waits(), waits);
}

TEST_F(BringUp, OpenFailuresRepostTwentyOneTimesAcrossRunsUntilAnOpenSucceeds)
{
    HoldConfiguredValues();
    mbn().InjectOpenSessionFault(MobileBroadband::SessionFault::CallFails);
    EXPECT_EQ(RunTasks(), std::vector<bool>(22, false));
    EXPECT_EQ(RunTasks(), std::vector<bool>(1, false));  // at the limit: no retry at all
    mbn().ClearFaults();
    EXPECT_THAT(RunTasks(), ElementsAre(false));
    manager()->CloseDeviceServices();
    mbn().InjectOpenSessionFault(MobileBroadband::SessionFault::CallFails, 1);
    EXPECT_THAT(RunTasks(), ElementsAre(false, false));

    std::vector<uint32_t> waits(21, 1000);
    waits.insert(waits.end(), {200, 200, 200, 1000});
    EXPECT_EQ(Waits(), waits);
    const std::string failed = "i :   open device services failed. wait for retry! retry count = ";
    const std::string max = "e :   try open decvice service arrived max times.";
    const std::string opened = "i :   open device services successed!";
    EXPECT_EQ(Logged({"retry count", "arrived max", "successed"}),
              Numbered(failed, 21, "", {max, max, opened, failed + "1", opened}));
}

TEST_F(BringUp, QuerySendFailuresRepostThirtyTimesAcrossRunsUntilAQueryIsSent)
{
    HoldConfiguredValues();
    MobileBroadband::CommandFault fault;
    fault.match = "\"LTE\",3\r\n";
    fault.times = 31;
    mbn().InjectCommandFault(fault);
    EXPECT_EQ(RunTasks(), std::vector<bool>(31, false));
    EXPECT_EQ(Waits(), std::vector<uint32_t>(30, 500));
    EXPECT_NE(manager()->m_device_service.load(), nullptr);  // the last failure closes nothing

    EXPECT_THAT(RunTasks(), ElementsAre(false));
    fault.times = 1;
    mbn().InjectCommandFault(fault);
    EXPECT_THAT(RunTasks(), ElementsAre(false, false));
    EXPECT_EQ(Logged({"Error send"}),
              Numbered("i :   Error send.retry count = ", 30, "",
                       {"i :   Error sending arrived max times", "i :   Error send.retry count = 1"}));
}

TEST_F(BringUp, OpenWithoutCompletionGoesOnToTheCheckLeavingFlagAndCounter)
{
    HoldConfiguredValues();
    mbn().InjectOpenSessionFault(MobileBroadband::SessionFault::CallFails, 1);
    EXPECT_FALSE(service()->dealDefaultTask());  // counts one failure and re-posts
    mbn().InjectOpenSessionFault(MobileBroadband::SessionFault::NoCompletion, 1);
    EXPECT_FALSE(service()->dealDefaultTask());

    EXPECT_EQ(service()->m_nOpenRetryCount, 1);
    EXPECT_FALSE(service()->m_bATServiceOpened);
    EXPECT_EQ(service()->m_taskQueue.Count(), 1u);
    EXPECT_THAT(Commands(), ElementsAre("at+vcfg=\"sarcfg\",\"LTE\",3\r\n", "at+vcfg=\"sarcfg\",\"GSM\"\r\n"));
    EXPECT_THAT(Waits(), ElementsAre(1000));
    EXPECT_THAT(Logged({"open device services"}),
                ElementsAre("i :   open device services failed. wait for retry! retry count = 1",
                            "i :   open device services successed! But get no response."));
}

// A stop, a suspend or a removal during each kind of wait after which the run would go on.
enum class Wait { Initialised, InitRetry, EmptyLookup, Dormant };
SharedFlag CHalvexService::* const kAbortFlags[] = {&CHalvexService::m_bStopRequested, &CHalvexService::m_bSuspended,
                                                    &CHalvexService::m_bDeviceRemoved};
using AbortCase = std::tuple<Wait, int>;

class Abort : public CoreTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(Abort, EndsTheRunRightAfterTheWait)
{
    const Wait wait = std::get<0>(GetParam());
    if (wait == Wait::Initialised) {
        ASSERT_EQ(manager()->Init(), 0);
    }
    if (wait == Wait::InitRetry) {
        mbn().FailClassCreation(MobileBroadband::ManagerClass::InterfaceManager, -1);
    }
    Show(wait == Wait::EmptyLookup ? Modem::Hidden : wait == Wait::Dormant ? Modem::Dormant : Modem::Up);
    const auto flag = kAbortFlags[std::get<1>(GetParam())];
    // The modem is up when the wait ends: a run that looked again would open it.
    machine().clock().SetSleepHook([this, flag](uint32_t) {
        (service()->*flag).store(true);
        Show(Modem::Up);
    });

    EXPECT_FALSE(service()->dealDefaultTask());
    const uint32_t waited[] = {200, 1000, 1500, 1000};
    EXPECT_THAT(Waits(), ElementsAre(waited[static_cast<int>(wait)]));
    EXPECT_EQ(machine().com().CreationAttempts(MobileBroadband::kClsidInterfaceManager), 1);
    EXPECT_EQ(mbn().OpenSessionCalls(), 0);
}

std::string AbortName(const ::testing::TestParamInfo<AbortCase>& info)
{
    static const char* const kWaits[] = {"Initialised", "InitRetry", "EmptyLookup", "Dormant"};
    static const char* const kFlags[] = {"Stop", "Suspend", "Removal"};
    return std::string(kWaits[static_cast<int>(std::get<0>(info.param))]) + kFlags[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(
    BringUp, Abort,
    ::testing::Combine(::testing::Values(Wait::Initialised, Wait::InitRetry, Wait::EmptyLookup, Wait::Dormant),
                       ::testing::Range(0, 3)),
    AbortName);

TEST_F(BringUp, AbortFlagsAreOnlyLookedAtAfterWaits)
{
    service()->m_bStopRequested = true;
    EXPECT_TRUE(service()->dealDefaultTask());
    EXPECT_THAT(Waits(), IsEmpty());
}

TEST_F(BringUp, SessionClosedAfterTheCheckSkipsPinAndReboot)
{
    modem().SetCommandListener([](const std::string& command) {
        if (command.find("\"GSM\",22,") != std::string::npos) {
            manager()->CloseDeviceServices();  // as a removal or a suspend does
        }
    });
    EXPECT_FALSE(service()->dealDefaultTask());
    EXPECT_THAT(modem().PinCommands(), IsEmpty());
    // The four replies of the check (so the check succeeded), and no pin command tried.
    EXPECT_EQ(Logged({"[RX]", "gpioctl", "vsar"}).size(), 4u);
}

TEST_F(BringUp, EndToEndRewritesPinsRebootsAndFindsEverythingInPlaceAfterwards)
{
    EXPECT_TRUE(service()->dealDefaultTask());
    EXPECT_TRUE(mbn().WaitIdle());  // the reboot: removal, then arrival
    EXPECT_EQ(service()->m_taskQueue.Count(), 2u);
    EXPECT_THAT(RunTasks(false), ElementsAre(false));

    EXPECT_EQ(modem().BootCount(), 2u);
    EXPECT_THAT(Commands(), ElementsAre("at+vcfg=\"sarcfg\",\"LTE\",3\r\n", "at+vcfg=\"sarcfg\",\"LTE\",23,2,3,3\r\n",
                                        "at+vcfg=\"sarcfg\",\"GSM\"\r\n", "at+vcfg=\"sarcfg\",\"GSM\",22,1,2\r\n",
                                        "at+vcfg=\"rf/sar/gpioctl\",1,250\r\n", "at+vsar=2,1\r\n",
                                        "at+vcfg=\"sarcfg\",\"LTE\",3\r\n", "at+vcfg=\"sarcfg\",\"GSM\"\r\n"));
    EXPECT_THAT(Waits(), ElementsAre(200));
    EXPECT_THAT(Logged({"ReInit", "successed", "reboot"}),
                ElementsAre("i :   ReInit Mbim Success!", "i :   open device services successed!",
                            "i :   wait for device reboot...", "i :   open device services successed!"));
}

}  // namespace
