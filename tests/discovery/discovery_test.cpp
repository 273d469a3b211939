#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include <windows.h>

#include "discovery/mbim_interface.h"
#include "logging/log_helper.h"
#include "log_file.h"
#include "machine_fixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

constexpr const char* kOther = "{7D0C5E2A-1B3F-4A6D-8E9C-0F1A2B3C4D5E}";
const std::string kLookup = "h :   CommonUtil::GetVarnickMbnInstViaCfgId, Get Mbim net instance id via ";

std::string UpperCase(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

class DiscoveryTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        LogHelper::Init();
    }
    sim::Network& network() { return machine().network(); }
    std::string modemId() { return machine().mbn().InterfaceId(); }
    // A mobile-broadband adapter named kOther, appended to the list; returns
    // the path of its class subkey.
    std::string AddOtherWwan(const std::string& deviceInstanceId)
    {
        network().AddAdapter({kOther, sim::Network::kIfTypeWwan, sim::Network::kStatusUp, true, "other"});
        return network().AddClassEntry(kOther, deviceInstanceId);
    }
};

// Adapters of other types are not looked up, nor adapters after the first match.
TEST_F(DiscoveryTest, FirstMatchingModemInListOrderWins)
{
    const std::string ethernet = "{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    network().AddAdapter({ethernet, 6, sim::Network::kStatusUp, true, "wired"});
    network().AddClassEntry(ethernet, network().ModemDeviceInstanceId());
    AddOtherWwan("USB\\VID_4B6E&PID_0E81&MI_0C\\7&99&0&000C");
    network().SetModemPosition(1);

    EXPECT_EQ(discovery::GetMbimInterfaceID(), modemId());

    EXPECT_THAT(testsupport::ShutdownAndReadLogMessages(),
                ElementsAre("h : + CHalvexService::GetMbimInterfaceID", "h : + CommonUtil::IsVarnickMbnDevcie",
                            "h : + CommonUtil::GetVarnickMbnInstViaCfgId", kLookup + modemId(),
                            "i :   Get Instance Id " + network().ModemDeviceInstanceId(),
                            "h : - CommonUtil::GetVarnickMbnInstViaCfgId", "h : - CommonUtil::IsVarnickMbnDevcie",
                            "i :   find TK42-N. interface id is " + modemId(), "i :   mbim oper status = 1",
                            "h : - CHalvexService::GetMbimInterfaceID"));
}

TEST_F(DiscoveryTest, DormantModemYieldsTheMarkerUntilItIsUp)
{
    network().SetModemAdapter(sim::Network::kStatusDormant, true);
    EXPECT_EQ(discovery::GetMbimInterfaceID(), "IfOperStatusDormant");
    network().SetModemAdapter(sim::Network::kStatusUp, true);
    EXPECT_EQ(discovery::GetMbimInterfaceID(), modemId());

    const auto log = testsupport::ShutdownAndReadLogMessages();
    EXPECT_THAT(log, Contains("i :   mbim oper status = 5"));
    EXPECT_THAT(log, Contains("i :   mbim oper status = 1"));
}

TEST_F(DiscoveryTest, ModemWithoutIpv4BindingIsNotFound)
{
    network().SetModemAdapter(sim::Network::kStatusUp, false);
    EXPECT_EQ(discovery::GetMbimInterfaceID(), "");
}

// The search goes on past a subkey without DeviceInstanceID and past one it may not
// open; a NetCfgInstanceId holding the adapter's name among other text matches.
TEST_F(DiscoveryTest, SubkeysWithoutDeviceInstanceIdOrAccessArePassedOverAndTheNameMayBePartOfTheValue)
{
    AddOtherWwan("");
    machine().registry().DenyAccess(network().AddClassEntry(kOther, "USB\\VID_4B6E&PID_0E81"));
    network().AddClassEntry(std::string("id ") + kOther + " end", "USB\\VID_4B6E&PID_0E83");
    network().SetModemPosition(1);
    EXPECT_EQ(discovery::GetMbimInterfaceID(), kOther);
    EXPECT_THAT(testsupport::ShutdownAndReadLogMessages(), Contains("i :   Get Instance Id USB\\VID_4B6E&PID_0E83"));
}

// Values are read into 256 bytes: one of exactly 256 bytes without a
// terminating zero is read and never searched past its end; a longer one does
// not match.
TEST_F(DiscoveryTest, ValuesOfTheBufferSize)
{
    auto& registry = machine().registry();
    const std::string filler(256, 'x');
    registry.SetRaw(network().AddClassEntry("", ""), "NetCfgInstanceId", REG_SZ, {filler.begin(), filler.end()});
    network().SetModemAdapter(sim::Network::kStatusUp, false);
    const std::string other = AddOtherWwan("");
    const std::string id = std::string(256 - 9, 'a') + "4b6e_0e82";
    registry.SetRaw(other, "DeviceInstanceID", REG_BINARY, {id.begin(), id.end()});

    EXPECT_EQ(discovery::GetMbimInterfaceID(), kOther);

    registry.SetRaw(other, "DeviceInstanceID", REG_BINARY, {id.begin(), id.end() + 1});
    EXPECT_EQ(discovery::GetMbimInterfaceID(), "");
    EXPECT_THAT(testsupport::ShutdownAndReadLogMessages(), Contains("i :   Get Instance Id " + UpperCase(id)));
}

struct IdCase {
    const char* name;
    const char* deviceInstanceId;
    bool found;
};
void PrintTo(const IdCase& c, std::ostream* os) { *os << c.name << " (" << c.deviceInstanceId << ")"; }

class InstanceIdRule : public DiscoveryTest, public ::testing::WithParamInterface<IdCase> {};

// The other adapter is alone in the AF_INET list: the modem is not bound to IPv4.
TEST_P(InstanceIdRule, DecidesWhetherTheAdapterIsTheModem)
{
    network().SetModemAdapter(sim::Network::kStatusUp, false);
    AddOtherWwan(GetParam().deviceInstanceId);

    EXPECT_EQ(discovery::GetMbimInterfaceID(), GetParam().found ? kOther : "");
    // The id is searched in upper case.
    EXPECT_THAT(testsupport::ShutdownAndReadLogMessages(),
                Contains("i :   Get Instance Id " + UpperCase(GetParam().deviceInstanceId)));
}

INSTANTIATE_TEST_SUITE_P(Discovery, InstanceIdRule,
                         ::testing::Values(IdCase{"AnotherMaker", "USB\\VID_1199&PID_0E82&MI_0C\\7&1&0&000C", false},
                                           IdCase{"ForeignProduct", "USB\\VID_4B6E&PID_0E99&MI_0C\\7&1&0&000C", false},
                                           IdCase{"IdsAnywhere", "X0E83Y&4B6EZ", true},
                                           IdCase{"LowerCase", "usb\\vid_4b6e&pid_0e81&mi_0c\\7&1&0&000c", true}),
                         [](const ::testing::TestParamInfo<IdCase>& info) { return std::string(info.param.name); });

}  // namespace
