#include <map>
#include <set>
#include <thread>

#include "mbn_fixture.h"
#include "sim/machine.h"

using Events = sim::MobileBroadband::EventsInterface;
using Classes = sim::MobileBroadband::ManagerClass;

namespace {

const Events kAllEvents[] = {Events::Connection, Events::InterfaceManager, Events::Interface, Events::DeviceServices,
                             Events::Registration};

std::vector<MbnSubject*> Subjects(CVarnickMbimManager* m)
{
    return {m->m_connection_sink, m->m_interface_manager_sink, m->m_interface_sink, m->m_device_services_sink,
            m->m_registration_sink};
}

}  // namespace

using ManagerInit = MbnTest;

TEST_F(ManagerInit, TheInstanceIsOneObjectForEveryThread)
{
    CVarnickMbimManager* seen[4] = {};
    std::vector<std::thread> threads;
    for (auto& slot : seen) {
        threads.emplace_back([&slot] { slot = CVarnickMbimManager::GetInstance(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (auto* instance : seen) {
        EXPECT_EQ(instance, manager());
    }
    EXPECT_FALSE(manager()->m_init_flag);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);
    EXPECT_EQ(manager()->AtResponse(), "");
    EXPECT_EQ(manager()->InterfaceId(), "");
    for (MbnSubject* subject : Subjects(manager())) {
        ASSERT_NE(subject, nullptr);
        EXPECT_EQ(subject->ObserverCount(), 0u);
    }
}

TEST_F(ManagerInit, SecondInitAddsNothingAndUnInitUndoesEverything)
{
    ASSERT_EQ(manager()->Init(), 0);
    EXPECT_TRUE(manager()->m_init_flag);
    ASSERT_EQ(manager()->m_sink_cookies.size(), 5u);
    for (const auto& cookie : manager()->m_sink_cookies) {
        EXPECT_NE(cookie.first, nullptr);
        EXPECT_NE(cookie.second, 0u);
    }
    EXPECT_EQ(manager()->Init(), 0);
    EXPECT_EQ(manager()->m_sink_cookies.size(), 5u);
    for (Events e : kAllEvents) {
        EXPECT_EQ(mbn().AdviseCalls(e), 1);
        EXPECT_EQ(mbn().AdvisedSinks(e), 1u);
    }
    for (MbnSubject* subject : Subjects(manager())) {
        EXPECT_EQ(subject->ObserverCount(), 1u);
    }
    EXPECT_EQ(machine().com().ThreadInitCount(), 1);

    manager()->UnInit();
    EXPECT_FALSE(manager()->m_init_flag);
    EXPECT_TRUE(manager()->m_sink_cookies.empty());
    EXPECT_EQ(manager()->m_device_services_manager, nullptr);
    EXPECT_EQ(manager()->m_interface_manager, nullptr);
    EXPECT_EQ(manager()->m_connection_manager, nullptr);
    for (Events e : kAllEvents) {
        EXPECT_EQ(mbn().UnadviseCalls(e), 1);
        EXPECT_EQ(mbn().AdvisedSinks(e), 0u);
    }
    for (MbnSubject* subject : Subjects(manager())) {
        EXPECT_EQ(subject->ObserverCount(), 0u);
    }
    EXPECT_EQ(machine().com().ThreadInitCount(), 0);
    mbn().WaitIdle();
    EXPECT_EQ(mbn().LiveObjects(), 0);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "h : + CVarnickMbimManager::Init"), 2u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::Init"), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CVarnickMbimManager::UnInit"), 1u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::UnInit"), 1u);
}

TEST_F(ManagerInit, NothingWorksBeforeInitAndNothingTouchesCom)
{
    manager()->UnInit();
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);
    EXPECT_EQ(manager()->CloseDeviceServices(), -1);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("at\r\n"), -1);
    EXPECT_FALSE(manager()->SendRebootCommand());
    EXPECT_EQ(machine().com().UnbalancedUninitializeCalls(), 0);
    EXPECT_EQ(machine().com().CreationAttempts(sim::MobileBroadband::kClsidDeviceServicesManager), 0);
    EXPECT_TRUE(mbn().Transcript().empty());

    auto lines = Lines();
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "h : + CVarnickMbimManager::UnInit",
                         "h : + CVarnickMbimManager::OpenDeviceServices",
                         "e :   mbim context not init.",
                         "h : - CVarnickMbimManager::OpenDeviceServices",
                         "h : + CVarnickMbimManager::CloseDeviceServices",
                         "e :   mbim context not init.",
                         "e :   m_init_flag = false. command at error return",
                         "e :   m_init_flag = false. command at error return",
                     }));
}

TEST_F(ManagerInit, AManagerClassThatCannotBeCreatedFailsInitUntilItCan)
{
    const std::string failure = "CoCreateInstance %s failed. result = 0x80040154.";
    mbn().FailClassCreation(Classes::DeviceServicesManager, 1);
    EXPECT_EQ(manager()->Init(), -1);
    EXPECT_EQ(machine().com().CreationAttempts(sim::MobileBroadband::kClsidInterfaceManager), 0);
    EXPECT_EQ(machine().com().CreationAttempts(sim::MobileBroadband::kClsidConnectionManager), 0);

    mbn().FailClassCreation(Classes::InterfaceManager, 1);
    EXPECT_EQ(manager()->Init(), -1);
    mbn().FailClassCreation(Classes::ConnectionManager, 1);
    EXPECT_EQ(manager()->Init(), -1);
    EXPECT_FALSE(manager()->m_init_flag);
    EXPECT_TRUE(manager()->m_sink_cookies.empty());
    // What a failed attempt had created is not kept.
    EXPECT_EQ(manager()->m_device_services_manager, nullptr);
    EXPECT_EQ(manager()->m_interface_manager, nullptr);
    mbn().WaitIdle();
    EXPECT_EQ(mbn().LiveObjects(), 0);

    EXPECT_EQ(manager()->Init(), 0);
    EXPECT_EQ(manager()->m_sink_cookies.size(), 5u);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   CoCreateInstance MbnDeviceServicesManager failed. result = 0x80040154."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   CoCreateInstance MbnInterfaceManager failed. result = 0x80040154."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   CoCreateInstance MbnConnectionManager failed. result = 0x80040154."), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CVarnickMbimManager::Init"), 4u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::Init"), 1u);
}

TEST_F(ManagerInit, ASinkThatCannotBeAdvisedIsLeftOutAndOnlyTheOthersAreUnadvised)
{
    const std::pair<Events, const char*> cases[] = {
        {Events::Connection, "i :   resigter connection event sink failed."},
        {Events::InterfaceManager, "i :   resigter interface manager event sink failed."},
        {Events::Interface, "i :   resigter interface event sink failed."},
        {Events::DeviceServices, "i :   resigter device service sink failed."},
        {Events::Registration, "i :   resigter interface manager sink failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        mbn().FailAdvise(c.first, 1);
        std::map<Events, int> unadvisedBefore;
        for (Events e : kAllEvents) {
            unadvisedBefore[e] = mbn().UnadviseCalls(e);
        }
        ASSERT_EQ(manager()->Init(), 0);
        EXPECT_TRUE(manager()->m_init_flag);
        EXPECT_EQ(manager()->m_sink_cookies.size(), 4u);
        EXPECT_EQ(mbn().AdvisedSinks(c.first), 0u);
        manager()->UnInit();
        for (Events e : kAllEvents) {
            EXPECT_EQ(mbn().UnadviseCalls(e) - unadvisedBefore[e], e == c.first ? 0 : 1);
            EXPECT_EQ(mbn().AdvisedSinks(e), 0u);
        }
    }
    // The subject of a sink that was not advised has no observer either.
    mbn().FailAdvise(Events::Interface, 1);
    ASSERT_EQ(manager()->Init(), 0);
    EXPECT_EQ(manager()->m_interface_sink->ObserverCount(), 0u);
    EXPECT_EQ(manager()->m_device_services_sink->ObserverCount(), 1u);

    auto lines = Lines();
    for (const auto& c : cases) {
        EXPECT_EQ(CountOf(lines, c.second), c.first == Events::Interface ? 2u : 1u) << c.second;
    }
}

TEST_F(ManagerInit, InitAfterUnInitAdvisesAllFiveAgainWithNewCookies)
{
    ASSERT_EQ(manager()->Init(), 0);
    std::set<std::pair<void*, DWORD>> first;
    for (const auto& cookie : manager()->m_sink_cookies) {
        first.insert({cookie.first, cookie.second});
    }
    manager()->UnInit();

    // Events of a manager that is not initialised reach nobody.
    mbn().RaiseCapableInterfaceArrival();
    mbn().WaitIdle();
    EXPECT_TRUE(TakeTasks().empty());

    ASSERT_EQ(manager()->Init(), 0);
    ASSERT_EQ(manager()->m_sink_cookies.size(), 5u);
    for (const auto& cookie : manager()->m_sink_cookies) {
        EXPECT_EQ(first.count({cookie.first, cookie.second}), 0u);
    }
    for (Events e : kAllEvents) {
        EXPECT_EQ(mbn().AdviseCalls(e), 2);
        EXPECT_EQ(mbn().AdvisedSinks(e), 1u);
    }
    mbn().RaiseCapableInterfaceArrival();
    mbn().WaitIdle();
    EXPECT_EQ(TakeTasks(), std::vector<int>{TASK_ID_DEFAULT});
}

TEST_F(ManagerInit, AComFailureOnEntryIsLoggedAndInitGoesOn)
{
    // The thread is already in a single-threaded apartment.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(manager()->Init(), 0);
    EXPECT_TRUE(manager()->m_init_flag);
    EXPECT_FALSE(manager()->varnick_deresigter_sink(nullptr, 1));
    manager()->UnInit();
    CoUninitialize();

    auto lines = Lines();
    EXPECT_TRUE(testsupport::AnyContains(lines, "i :   CoInitializeEx result = 0x80010106."));
}
