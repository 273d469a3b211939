// The modem's reboot through the vendor device service, and its leaving and
// returning: events in the order the two sources report them, objects of the
// old appearance unusable.
#include "mbn_fixture.h"

using Presence = sim::MobileBroadband::PresenceEvent;
using Names = std::vector<std::string>;
const std::string kRebootBytes("\x00\x11", 2);

class RebootTest : public MbnClientTest {
protected:
    void SetUp() override
    {
        MbnClientTest::SetUp();
        ASSERT_EQ(OpenService(), S_OK);
        ASSERT_EQ(OpenSession(), S_OK);
        AdviseAll();  // after the open's completion, which the sink therefore misses
    }
};

TEST_F(RebootTest, AcceptedRebootCompletesThenTheModemLeavesAndReturnsAsANewObject)
{
    ASSERT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), S_OK);
    WaitIdle();  // includes the scheduled removal and arrival
    EXPECT_EQ(m_sink->Names(),
              (Names{"SetCommand", "CapableRemoval", "InterfaceRemoval", "InterfaceArrival", "CapableArrival"}));
    EXPECT_EQ(m_sink->Events().at(0).status, S_OK);

    // The old device service went with the modem; a new one works.
    ULONG id = 0;
    EXPECT_EQ(m_service->OpenCommandSession(&id), sim::hr::DeviceNotAvailable);
    EXPECT_EQ(SendAt("at+vsar=2,1\r\n"), sim::hr::DeviceNotAvailable);
    EXPECT_FALSE(mbn().CommandSessionOpen());
    ASSERT_EQ(OpenService(), S_OK);
    EXPECT_EQ(OpenSession(), S_OK);
}

TEST_F(RebootTest, TheRebootCompletionCanFailAndComeAfterTheModemLeft)
{
    mbn().SetRebootCompletion(E_FAIL, true);
    ASSERT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), S_OK);
    WaitIdle();
    EXPECT_EQ(m_sink->Names(),
              (Names{"CapableRemoval", "InterfaceRemoval", "SetCommand", "InterfaceArrival", "CapableArrival"}));
    const SinkEvent reply = m_sink->Events().at(2);
    EXPECT_EQ(reply.status, E_FAIL);
    EXPECT_FALSE(reply.hadData);
    EXPECT_EQ(mbn().modem().BootCount(), 2u);
}

TEST_F(RebootTest, RefusedOrMalformedRebootLeavesTheModemInPlace)
{
    mbn().RefuseReboot(1, E_ACCESSDENIED);
    EXPECT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), E_ACCESSDENIED);
    EXPECT_EQ(SendBytes(Mbn::kRebootCommandId, std::string("\x00\x12", 2)), S_OK);
    WaitIdle();
    EXPECT_EQ(m_sink->Names(), Names{"SetCommand"});
    EXPECT_EQ(m_sink->Events().at(0).status, E_INVALIDARG);
    EXPECT_EQ(mbn().modem().BootCount(), 1u);
    EXPECT_TRUE(mbn().CommandSessionOpen());
}

// Each source reports in its own order; the test picks how the two interleave.
// Events up to the first arrival go out on leaving, the rest on returning.
TEST_F(RebootTest, PresenceEventsFollowTheChosenInterleaving)
{
    const std::vector<Presence> kOrders[] = {
        {Presence::CapableRemoval, Presence::InterfaceRemoval, Presence::InterfaceArrival, Presence::CapableArrival},
        {Presence::InterfaceRemoval, Presence::CapableRemoval, Presence::CapableArrival, Presence::InterfaceArrival},
        {Presence::CapableRemoval, Presence::CapableArrival, Presence::InterfaceRemoval, Presence::InterfaceArrival},
    };
    static const char* const kNames[] = {"CapableRemoval", "InterfaceRemoval", "InterfaceArrival", "CapableArrival"};
    Names expected;
    for (const std::vector<Presence>& order : kOrders) {
        ASSERT_TRUE(mbn().SetPresenceEventOrder(order));
        mbn().RemoveModem();
        mbn().RemoveModem();  // already gone: no second set of events
        WaitIdle();
        bool away = true;
        for (Presence event : order) {
            if (away && (event == Presence::InterfaceArrival || event == Presence::CapableArrival)) {
                EXPECT_EQ(m_sink->Names(), expected);
                EXPECT_EQ(OpenService(), sim::hr::NotFound);  // nothing to open while it is away
                mbn().ReturnModem();
                WaitIdle();
                away = false;
            }
            expected.push_back(kNames[static_cast<int>(event)]);
        }
        EXPECT_EQ(m_sink->Names(), expected);
        EXPECT_EQ(OpenService(), S_OK);
    }
    // A return at the moment of a departure is announced after the departure's events.
    ASSERT_TRUE(mbn().SetPresenceEventOrder(kOrders[0]));
    const size_t seen = m_sink->Names().size();
    mbn().RemoveModem();
    mbn().ReturnModem();
    WaitIdle();
    const Names names = m_sink->Names();
    EXPECT_EQ(Names(names.begin() + static_cast<ptrdiff_t>(seen), names.end()),
              (Names{"CapableRemoval", "InterfaceRemoval", "InterfaceArrival", "CapableArrival"}));
    // Each event once, each source's removal before its arrival.
    EXPECT_FALSE(mbn().SetPresenceEventOrder({Presence::CapableArrival, Presence::CapableRemoval,
                                              Presence::InterfaceRemoval, Presence::InterfaceArrival}));
    EXPECT_FALSE(mbn().SetPresenceEventOrder({Presence::CapableRemoval, Presence::CapableRemoval,
                                              Presence::InterfaceRemoval, Presence::InterfaceArrival}));
    EXPECT_FALSE(mbn().SetPresenceEventOrder({Presence::CapableRemoval, Presence::CapableArrival}));
}

TEST_F(RebootTest, TheActivityRecordFollowsCommandsSessionsAndAModemThatStaysAway)
{
    using Kind = Mbn::Activity::Kind;
    std::mutex mutex;
    Names seen;
    mbn().SetActivityListener([&](const Mbn::Activity& activity) {
        static const char* const kNames[] = {"command", "opened", "closed", "left", "returned"};
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(kNames[static_cast<int>(activity.kind)] +
                       (activity.kind == Kind::Command ? " " + activity.command.command + "=" + activity.command.reply
                                                       : std::string()));
    });
    mbn().SetRebootTiming(20, Mbn::kStaysAway);
    ASSERT_EQ(SendAt("at+vsar=2,1\r\n"), S_OK);
    ASSERT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), S_OK);
    WaitIdle();  // would run a return scheduled however late
    EXPECT_FALSE(mbn().ModemPresent());
    ULONG id = 0;
    EXPECT_EQ(m_service->CloseCommandSession(&id), sim::hr::DeviceNotAvailable);  // not recorded

    mbn().ReturnModem();
    WaitIdle();
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(OpenSession(), S_OK);
    ASSERT_EQ(m_service->CloseCommandSession(&id), S_OK);
    WaitIdle();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seen, (Names{"command at+vsar=2,1\r\n=\r\nOK\r\n", "command 00 11=", "left", "returned", "opened",
                           "closed"}));
}
