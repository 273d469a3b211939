// The modem's reboot through the vendor device service, and its leaving and
// returning: events in order, the table kept, objects of the old appearance
// unusable.
#include <future>

#include "mbn_fixture.h"

namespace {

const std::string kRebootBytes("\x00\x11", 2);

class RebootTest : public MbnClientTest {
protected:
    void SetUp() override
    {
        MbnClientTest::SetUp();
        AdviseAll();
        ASSERT_EQ(OpenService(), S_OK);
        ASSERT_EQ(OpenSession(), S_OK);
    }

    std::vector<std::string> PresenceNames()
    {
        std::vector<std::string> names;
        for (const std::string& name : m_sink->Names()) {
            if (name.find("Arrival") != std::string::npos || name.find("Removal") != std::string::npos) {
                names.push_back(name);
            }
        }
        return names;
    }
};

TEST_F(RebootTest, AcceptedRebootCompletesThenTheModemLeavesAndReturnsWithItsTable)
{
    ASSERT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",23,2,3,3\r\n"), S_OK);
    WaitIdle();
    std::vector<bool> presence;
    std::mutex presenceMutex;
    mbn().SetPresenceListener([&](bool present) {
        std::lock_guard<std::mutex> lock(presenceMutex);
        presence.push_back(present);
    });

    ASSERT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), S_OK);
    WaitIdle();  // includes the scheduled removal and arrival

    auto replies = EventsNamed("SetCommand");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].number, Mbn::kRebootCommandId);
    EXPECT_EQ(replies[1].status, S_OK);
    EXPECT_EQ(PresenceNames(),
              (std::vector<std::string>{"CapableRemoval", "InterfaceRemoval", "InterfaceArrival", "CapableArrival"}));
    for (const SinkEvent& event : m_sink->Events()) {
        EXPECT_EQ(event.interfaceId, mbn().InterfaceId()) << event.name;
    }
    EXPECT_EQ(presence, (std::vector<bool>{false, true}));
    EXPECT_EQ(mbn().modem().BootCount(), 2u);
    EXPECT_EQ(mbn().Transcript().back().command, "00 11");

    // The old device service went with the modem; a new one works and finds the table.
    ULONG id = 0;
    EXPECT_EQ(m_service->OpenCommandSession(&id), sim::hr::DeviceNotAvailable);
    EXPECT_EQ(SendAt("at+vsar=2,1\r\n"), sim::hr::DeviceNotAvailable);
    EXPECT_FALSE(mbn().CommandSessionOpen());
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(OpenSession(), S_OK);
    ASSERT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",3\r\n"), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").back().data,
              std::string(4, '\0') + "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n\r\nOK\r\n");
}

TEST_F(RebootTest, WhileAwayTheInterfaceCannotBeOpenedAndAResetDropsTheReturn)
{
    mbn().SetRebootTiming(0, 600000);
    std::promise<void> left;
    std::atomic<bool> signalled{false};
    mbn().SetPresenceListener([&](bool present) {
        if (!present && !signalled.exchange(true)) {
            left.set_value();
        }
    });
    ASSERT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), S_OK);
    ASSERT_EQ(left.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);

    EXPECT_FALSE(mbn().ModemPresent());
    EXPECT_EQ(OpenService(), sim::hr::NotFound);
    IMbnInterface* object = nullptr;
    const std::string narrowId = mbn().InterfaceId();
    const std::wstring id(narrowId.begin(), narrowId.end());
    EXPECT_EQ(m_interfaceManager->GetInterface(id.c_str(), &object), sim::hr::NotFound);

    // The return is 10 minutes away; a reset ends the wait for it.
    machine().Reset();
    EXPECT_TRUE(mbn().ModemPresent());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
}

TEST_F(RebootTest, RefusedOrMalformedRebootLeavesTheModemInPlace)
{
    mbn().RefuseReboot(1, E_ACCESSDENIED);
    EXPECT_EQ(SendBytes(Mbn::kRebootCommandId, kRebootBytes), E_ACCESSDENIED);
    EXPECT_EQ(SendBytes(Mbn::kRebootCommandId, std::string("\x00\x12", 2)), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").at(0).status, E_INVALIDARG);
    EXPECT_TRUE(PresenceNames().empty());
    EXPECT_EQ(mbn().modem().BootCount(), 1u);
    EXPECT_TRUE(mbn().CommandSessionOpen());
}

TEST_F(RebootTest, RemoveAndReturnOnDemand)
{
    mbn().RemoveModem();
    EXPECT_FALSE(mbn().ModemPresent());
    mbn().RemoveModem();  // already gone: no second set of events
    WaitIdle();
    mbn().ReturnModem();
    WaitIdle();
    EXPECT_EQ(PresenceNames(),
              (std::vector<std::string>{"CapableRemoval", "InterfaceRemoval", "InterfaceArrival", "CapableArrival"}));
    EXPECT_EQ(mbn().modem().BootCount(), 1u);
    EXPECT_EQ(OpenService(), S_OK);
}

}  // namespace
