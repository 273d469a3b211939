// The service's start, run and stop on the simulated laptop, and the power
// events the system's notification thread delivers.
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "core_fixture.h"
#include "host/service_host.h"

namespace {

using Lifecycle = CoreTest;

sim::Power& power() { return sim::Machine::Get().power(); }

// A stop from the service control manager, through the service's control handler.
// The handler ends the logging: later lines are not written.
void Stop()
{
    EXPECT_EQ(HalvexServiceHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
}

// Until `done` holds (looked at every millisecond, so the worker gets the cores); false
// after a minute of host time, far beyond any run.
bool Await(const std::function<bool()>& done)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

size_t AcceptedCommands()
{
    const auto transcript = sim::Machine::Get().mbn().Transcript();
    return std::count_if(transcript.begin(), transcript.end(), [](const auto& entry) {
        return entry.commandId == sim::MobileBroadband::kAtCommandId && entry.accepted;
    });
}

TEST_F(Lifecycle, FailedManagerInitStartsNothingAndStillDestroysInFull)
{
    mbn().FailClassCreation(sim::MobileBroadband::ManagerClass::InterfaceManager, -1);
    EXPECT_FALSE(service()->ServiceInit());
    service()->ServiceDestroy();
    EXPECT_EQ(power().Registrations(), 0u);
    EXPECT_THAT(Logged({"Mbim", "task thread", "ServiceDestroy", ">>>>>>"}),
                ElementsAre("h : + CVarnickMbimManager::Init", "e :   MbimManager init failed. ret = -1",
                            "i :   wait for task thread end.", "i :   task thread has been stopped successfully.",
                            "h : + CVarnickMbimManager::UnInit", "i :   ServiceDestroy success"));
}

TEST_F(Lifecycle, StopSignalledBeforeTheRunWaitsEndsItAtOnceAndARefusedRegistrationIsOnlyLogged)
{
    power().FailRegistrations(ERROR_ACCESS_DENIED);
    HoldConfiguredValues();
    ASSERT_TRUE(service()->ServiceInit());
    EXPECT_FALSE(service()->ServiceInit());
    Stop();
    service()->ServiceRun();
    service()->ServiceDestroy();
    EXPECT_THAT(Logged({"Service", "Register", "STOP"}),
                ElementsAre("i :   RegisterSuspendResumeNotification error = 0x00000005",
                            "i :   Service has been inited already.", "i :   SERVICE_CONTROL_STOP"));
}

// The stop reaches a run that searches for the modem's interface: the run ends after
// the wait it is in, not after the whole search.
TEST_F(Lifecycle, StopDuringTheInterfaceSearchEndsTheRunAfterItsWait)
{
    Show(Modem::Hidden);
    std::optional<sim::Clock::Hold> hold;  // keeps the worker in its first lookup wait
    std::atomic<DWORD> worker{0};
    std::vector<uint32_t> bringUpWaits;  // the worker's; the stop's own polls are 20 ms
    machine().clock().SetSleepHook([&](uint32_t ms) {
        if (ms == 1500 && worker == 0) {
            hold.emplace(machine().clock());
            worker = GetCurrentThreadId();
        }
        if (ms != 20) {
            bringUpWaits.push_back(ms);
        }
    });
    ASSERT_TRUE(service()->ServiceInit());
    std::thread serviceMain([] { CHalvexService::GetInstance()->ServiceRun(); });
    ASSERT_TRUE(Await([&] { return worker != 0 && machine().clock().IsWaiting(worker); }));
    Stop();
    hold.reset();
    serviceMain.join();
    service()->ServiceDestroy();
    EXPECT_THAT(bringUpWaits, ElementsAre(200, 1500));
    EXPECT_EQ(mbn().OpenSessionCalls(), 0);
    EXPECT_EQ(power().Registrations(), 0u);
}

class ResumeOrder : public CoreTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ResumeOrder, BothResumeEventsPostOneBringUpAndKeepTheOneRegistration)
{
    ASSERT_TRUE(service()->ServiceInit());
    ASSERT_EQ(manager()->OpenDeviceServices(modemId()), 0);
    power().Send(PBT_APMSUSPEND);
    EXPECT_TRUE(service()->m_bSuspended);
    EXPECT_FALSE(mbn().CommandSessionOpen());
    power().Send(10);
    power().Send(GetParam() ? PBT_APMRESUMEAUTOMATIC : PBT_APMRESUMESUSPEND);
    EXPECT_EQ(service()->m_taskQueue.Count(), GetParam() ? 1u : 0u);  // only the automatic resume posts
    power().Send(GetParam() ? PBT_APMRESUMESUSPEND : PBT_APMRESUMEAUTOMATIC);
    EXPECT_FALSE(service()->m_bSuspended);
    EXPECT_THAT(TakeTasks(), ElementsAre(TASK_ID_DEFAULT));
    EXPECT_EQ(power().Registrations(), 1u);
    service()->ServiceDestroy();
    EXPECT_EQ(power().Registrations(), 0u);
    // Two lines per resume event and no registration line.
    EXPECT_THAT(Logged({"PowerChanged", "PBT_", "Register"}),
                ::testing::AllOf(::testing::SizeIs(6), ::testing::Contains("i :   PowerChanged: Event Type : 10")));
}
INSTANTIATE_TEST_SUITE_P(Lifecycle, ResumeOrder, ::testing::Bool());

// The system has taken the registration for a resume when the destroy ends it: the
// resume still arrives, and must not register again behind the destroy.
TEST_F(Lifecycle, AResumeInFlightDuringTheDestroyLeavesNoRegistrationBehindIt)
{
    ASSERT_TRUE(service()->ServiceInit());
    std::promise<void> inFlight;
    std::promise<void> destroyed;
    std::shared_future<void> destroyDone = destroyed.get_future().share();
    power().SetDeliveryHook([&](uint32_t) {
        inFlight.set_value();
        destroyDone.wait();
    });
    std::thread system([] { power().Send(PBT_APMRESUMEAUTOMATIC); });
    inFlight.get_future().wait();
    service()->ServiceDestroy();
    destroyed.set_value();
    system.join();
    EXPECT_EQ(power().Registrations(), 0u);
    EXPECT_THAT(Logged({"ServiceDestroy", "Register", "PBT_"}),
                ElementsAre("i :   ServiceDestroy success", "i :   PBT_APMRESUMEAUTOMATIC"));
}

TEST_F(Lifecycle, SuspendDuringTheFirstBringUpEndsItAndTheResumeChecksAgain)
{
    HoldConfiguredValues();
    std::atomic<bool> suspended{false};
    std::vector<uint32_t> bringUpWaits;  // the worker's; the stop's 20 ms polls may overflow the clock's records
    machine().clock().SetSleepHook([&](uint32_t ms) {
        if (ms != 20) {
            bringUpWaits.push_back(ms);
        }
        if (ms == 200 && !suspended) {
            power().Send(PBT_APMSUSPEND);
            suspended = true;
        }
    });
    ASSERT_TRUE(service()->ServiceInit());
    std::thread serviceMain([] { CHalvexService::GetInstance()->ServiceRun(); });
    while (!suspended || service()->m_taskQueue.Waiters() != 1) {
        std::this_thread::yield();
    }
    power().Send(PBT_APMRESUMEAUTOMATIC);
    // The second run has queried both settings and the worker waits for work again. The
    // queue alone cannot tell: its waiter and count, read one after the other, also look
    // idle while the worker takes the resume's task.
    ASSERT_TRUE(Await([this] { return AcceptedCommands() == 2 && service()->m_taskQueue.Waiters() == 1; }));
    Stop();
    serviceMain.join();
    service()->ServiceDestroy();
    // Only the second run reached the modem; then only the stop's 20 ms polls.
    EXPECT_THAT(Commands(), ElementsAre("at+vcfg=\"sarcfg\",\"LTE\",3\r\n", "at+vcfg=\"sarcfg\",\"GSM\"\r\n"));
    EXPECT_THAT(bringUpWaits, ElementsAre(200, 200));
    const auto waits = Waits();
    EXPECT_TRUE(std::all_of(waits.begin(), waits.end(), [](uint32_t ms) { return ms == 20 || ms == 200; }));
    EXPECT_EQ(power().Registrations(), 0u);
    EXPECT_THAT(Logged({">>>>>>", "PBT_", "STOP"}),
                ElementsAre("i :   >>>>>> TASK_ID_DEFAULT", "i :   PBT_APMRESUMEAUTOMATIC", "i :   >>>>>> TASK_ID_DEFAULT",
                            "i :   SERVICE_CONTROL_STOP"));
}

}  // namespace
