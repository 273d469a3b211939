#include "mbn_manager_fixture.h"
#include "sim/machine.h"

using Events = sim::MobileBroadband::EventsInterface;
using Classes = sim::MobileBroadband::ManagerClass;

namespace {

const Events kAllEvents[] = {Events::Connection, Events::InterfaceManager, Events::Interface, Events::DeviceServices,
                             Events::Registration};
const char* const kAdviseFailures[] = {
    "i :   resigter connection event sink failed.", "i :   resigter interface manager event sink failed.",
    "i :   resigter interface event sink failed.",  "i :   resigter device service sink failed.",
    "i :   resigter interface manager sink failed.",
};

}  // namespace

class ManagerInit : public MbnTest {
protected:
    // Each sink, in the order of kAllEvents, holds the manager's reference and
    // one more while it is advised; so many observers has its subject.
    void ExpectSinkReferences(const std::vector<ULONG>& expected)
    {
        CVarnickMbimManager* m = manager();
        const std::pair<IUnknown*, MbnSubject*> sinks[] = {
            {static_cast<IMbnConnectionEvents*>(m->m_connection_sink), m->m_connection_sink},
            {static_cast<IMbnInterfaceManagerEvents*>(m->m_interface_manager_sink), m->m_interface_manager_sink},
            {static_cast<IMbnInterfaceEvents*>(m->m_interface_sink), m->m_interface_sink},
            {static_cast<IMbnDeviceServicesEvents*>(m->m_device_services_sink), m->m_device_services_sink},
            {static_cast<IMbnRegistrationEvents*>(m->m_registration_sink), m->m_registration_sink},
        };
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(RefCount(sinks[i].first), expected[i]) << "sink " << i;
            EXPECT_EQ(sinks[i].second->ObserverCount(), expected[i] - 1) << "sink " << i;
        }
    }
};

// With every sink advised, then with each one's Advise failing in turn: a
// second Init adds nothing; a failed sink is left out with no reference kept
// on it or on its connection point; UnInit unadvises the others and releases all.
TEST_F(ManagerInit, InitAdvisesWhatItCanOnceAndUnInitUndoesEverything)
{
    for (size_t failing = 0; failing <= 5; ++failing) {
        SCOPED_TRACE(failing);
        if (failing < 5) {
            mbn().FailAdvise(kAllEvents[failing], 1);
        }
        ASSERT_EQ(manager()->Init(), 0);
        EXPECT_EQ(manager()->Init(), 0);
        EXPECT_TRUE(manager()->m_init_flag);
        EXPECT_EQ(manager()->m_sink_cookies.size(), failing < 5 ? 4u : 5u);
        std::vector<ULONG> references(5, 2);
        if (failing < 5) {
            references[failing] = 1;
        }
        ExpectSinkReferences(references);
        EXPECT_EQ(machine().com().ThreadInitCount(), 1);
        EXPECT_EQ(mbn().LiveObjects(), 3);

        manager()->UnInit();
        EXPECT_FALSE(manager()->m_init_flag);
        EXPECT_TRUE(manager()->m_sink_cookies.empty());
        EXPECT_TRUE(!manager()->m_device_services_manager && !manager()->m_interface_manager &&
                    !manager()->m_connection_manager);
        for (Events e : kAllEvents) {
            EXPECT_EQ(mbn().AdvisedSinks(e), 0u);
        }
        ExpectSinkReferences({1, 1, 1, 1, 1});
        EXPECT_EQ(machine().com().ThreadInitCount(), 0);
        mbn().WaitIdle();
        EXPECT_EQ(mbn().LiveObjects(), 0);
    }
    for (Events e : kAllEvents) {
        EXPECT_EQ(mbn().AdviseCalls(e), 5);
    }
    auto lines = Lines();
    for (const char* message : kAdviseFailures) {
        EXPECT_EQ(CountOf(lines, message), 1u) << message;
    }
    EXPECT_EQ(CountOf(lines, "h : + CVarnickMbimManager::Init"), 12u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::Init"), 6u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::UnInit"), 6u);
}

TEST_F(ManagerInit, NothingWorksBeforeInitAndNothingTouchesCom)
{
    manager()->UnInit();
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    EXPECT_EQ(manager()->CloseDeviceServices(), -1);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("at\r\n"), -1);
    EXPECT_FALSE(manager()->SendRebootCommand());
    EXPECT_EQ(machine().com().UnbalancedUninitializeCalls(), 0);
    EXPECT_EQ(machine().com().CreationAttempts(sim::MobileBroadband::kClsidDeviceServicesManager), 0);
    EXPECT_TRUE(mbn().Transcript().empty());

    EXPECT_EQ(Lines(), (std::vector<std::string>{
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

// The classes are created in this order; a failure stops there and keeps nothing.
TEST_F(ManagerInit, AManagerClassThatCannotBeCreatedFailsInitUntilItCan)
{
    for (Classes which : {Classes::DeviceServicesManager, Classes::InterfaceManager, Classes::ConnectionManager}) {
        mbn().FailClassCreation(which, 1);
        EXPECT_EQ(manager()->Init(), -1);
    }
    EXPECT_EQ(machine().com().CreationAttempts(sim::MobileBroadband::kClsidInterfaceManager), 2);
    EXPECT_EQ(machine().com().CreationAttempts(sim::MobileBroadband::kClsidConnectionManager), 1);
    EXPECT_FALSE(manager()->m_init_flag);
    EXPECT_TRUE(manager()->m_sink_cookies.empty());
    mbn().WaitIdle();
    EXPECT_EQ(mbn().LiveObjects(), 0);

    EXPECT_EQ(manager()->Init(), 0);
    EXPECT_EQ(manager()->m_sink_cookies.size(), 5u);
    auto lines = Lines();
    for (const char* name : {"MbnDeviceServicesManager", "MbnInterfaceManager", "MbnConnectionManager"}) {
        EXPECT_EQ(CountOf(lines, std::string("i :   CoCreateInstance ") + name + " failed. result = 0x80040154."), 1u);
    }
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::Init"), 1u);
}

TEST_F(ManagerInit, AComFailureOnEntryIsLoggedAndInitGoesOn)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);  // already in a single-threaded apartment
    EXPECT_EQ(manager()->Init(), 0);
    EXPECT_TRUE(manager()->m_init_flag);
    EXPECT_FALSE(manager()->varnick_deresigter_sink(nullptr, 1));
    manager()->UnInit();
    CoUninitialize();
    EXPECT_EQ(CountOf(Lines(), "i :   CoInitializeEx result = 0x80010106."), 1u);
}
