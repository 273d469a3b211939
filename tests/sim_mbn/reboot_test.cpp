// The modem's reboot through the vendor device service, and its leaving and
// returning: events in the order the two sources report them, the table kept,
// objects of the old appearance unusable.
#include <algorithm>
#include <ostream>

#include "mbn_fixture.h"

namespace {

using Presence = sim::MobileBroadband::PresenceEvent;
const std::string kRebootBytes("\x00\x11", 2);

std::vector<std::string> NamesOf(const std::vector<Presence>& events)
{
    static const char* const kNames[] = {"CapableRemoval", "InterfaceRemoval", "InterfaceArrival", "CapableArrival"};
    std::vector<std::string> names;
    for (Presence event : events) {
        names.push_back(kNames[static_cast<int>(event)]);
    }
    return names;
}

class RebootTest : public MbnClientTest {
protected:
    void SetUp() override
    {
        MbnClientTest::SetUp();
        AdviseAll();
        ASSERT_EQ(OpenService(), S_OK);
        ASSERT_EQ(OpenSession(), S_OK);
    }

    // The sink's events other than the open completion.
    std::vector<std::string> LaterNames()
    {
        std::vector<std::string> names = m_sink->Names();
        names.erase(names.begin());
        return names;
    }
};

TEST_F(RebootTest, AcceptedRebootCompletesThenTheModemLeavesAndReturnsWithItsTable)
{
    ASSERT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",23,2,3,3\r\n"), S_OK);
    WaitIdle();
    std::vector<bool> presence;
    mbn().SetPresenceListener([&presence](bool present) { presence.push_back(present); });  // one worker at a time

    ASSERT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), S_OK);
    WaitIdle();  // includes the scheduled removal and arrival
    EXPECT_EQ(LaterNames(), (std::vector<std::string>{"SetCommand", "SetCommand", "CapableRemoval",
                                                      "InterfaceRemoval", "InterfaceArrival", "CapableArrival"}));
    EXPECT_EQ(EventsNamed("CapableArrival").at(0).interfaceId, mbn().InterfaceId());
    EXPECT_EQ(presence, (std::vector<bool>{false, true}));
    EXPECT_EQ(mbn().modem().BootCount(), 2u);
    EXPECT_EQ(mbn().Transcript().back().command, "00 11");

    EXPECT_EQ(mbn().modem().Sar("LTE", 3), (sim::SarValues{23, 2, 3}));

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
    EXPECT_EQ(LaterNames(), (std::vector<std::string>{"CapableRemoval", "InterfaceRemoval", "SetCommand",
                                                      "InterfaceArrival", "CapableArrival"}));
    EXPECT_EQ(EventsNamed("SetCommand").at(0).status, E_FAIL);
    EXPECT_FALSE(EventsNamed("SetCommand").at(0).hadData);
    EXPECT_EQ(mbn().modem().BootCount(), 2u);
}

TEST_F(RebootTest, RefusedOrMalformedRebootLeavesTheModemInPlace)
{
    mbn().RefuseReboot(1, E_ACCESSDENIED);
    EXPECT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), E_ACCESSDENIED);
    EXPECT_EQ(SendBytes(Mbn::kRebootCommandId, std::string("\x00\x12", 2)), S_OK);
    WaitIdle();
    EXPECT_EQ(LaterNames(), std::vector<std::string>{"SetCommand"});
    EXPECT_EQ(EventsNamed("SetCommand").at(0).status, E_INVALIDARG);
    EXPECT_EQ(mbn().modem().BootCount(), 1u);
    EXPECT_TRUE(mbn().CommandSessionOpen());
}

// Each source reports in its own order; the test picks how the two interleave.
struct Interleaving {
    const char* name;
    std::vector<Presence> order;
};

void PrintTo(const Interleaving& interleaving, std::ostream* out)
{
    *out << interleaving.name;
}

class PresenceOrder : public RebootTest, public ::testing::WithParamInterface<Interleaving> {};

TEST_P(PresenceOrder, EventsUpToTheFirstArrivalGoOutOnLeavingTheRestOnReturning)
{
    const std::vector<Presence>& order = GetParam().order;
    ASSERT_TRUE(mbn().SetPresenceEventOrder(order));
    const auto firstArrival = std::find_if(order.begin(), order.end(), [](Presence event) {
        return event == Presence::InterfaceArrival || event == Presence::CapableArrival;
    });
    mbn().RemoveModem();
    mbn().RemoveModem();  // already gone: no second set of events
    WaitIdle();
    EXPECT_EQ(LaterNames(), NamesOf({order.begin(), firstArrival}));
    EXPECT_EQ(OpenService(), sim::hr::NotFound);  // nothing to open while it is away
    mbn().ReturnModem();
    WaitIdle();
    EXPECT_EQ(LaterNames(), NamesOf(order));
    EXPECT_EQ(OpenService(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Reboot, PresenceOrder,
    ::testing::Values(Interleaving{"Default",
                                   {Presence::CapableRemoval, Presence::InterfaceRemoval, Presence::InterfaceArrival,
                                    Presence::CapableArrival}},
                      Interleaving{"InterfaceManagerFirst",
                                   {Presence::InterfaceRemoval, Presence::CapableRemoval, Presence::CapableArrival,
                                    Presence::InterfaceArrival}},
                      Interleaving{"InterfaceRemovalAfterCapableArrival",
                                   {Presence::CapableRemoval, Presence::CapableArrival, Presence::InterfaceRemoval,
                                    Presence::InterfaceArrival}}),
    [](const ::testing::TestParamInfo<Interleaving>& info) { return std::string(info.param.name); });

TEST_F(RebootTest, APresenceOrderMustHoldEachEventOnceWithTheRemovalFirst)
{
    EXPECT_FALSE(mbn().SetPresenceEventOrder({Presence::CapableArrival, Presence::CapableRemoval,
                                              Presence::InterfaceRemoval, Presence::InterfaceArrival}));
    EXPECT_FALSE(mbn().SetPresenceEventOrder({Presence::CapableRemoval, Presence::CapableRemoval,
                                              Presence::InterfaceRemoval, Presence::InterfaceArrival}));
    EXPECT_FALSE(mbn().SetPresenceEventOrder({Presence::CapableRemoval, Presence::CapableArrival}));
}

}  // namespace
