#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <setupapi.h>
#include <devguid.h>

#include <string>
#include <vector>

#include "machine_fixture.h"

namespace {

using NetworkCalls = MachineTest;

// The order and the IPv4 filter are seen through discovery's own tests.
TEST_F(NetworkCalls, FillFailsWhenTheListGrewSinceTheSizeQuery)
{
    machine().network().AddAdapter({"{A}", IF_TYPE_ETHERNET_CSMACD, IfOperStatusUp, false, "no IPv4"});
    ULONG size = 0;
    ASSERT_EQ(GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, nullptr, &size), static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG));
    auto* list = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data());
    ULONG given = size;
    ASSERT_EQ(GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST, nullptr, list, &given), ERROR_SUCCESS);
    EXPECT_EQ(list->Next, nullptr);  // only the modem is bound to IPv4

    machine().network().AddAdapter({"{B}", IF_TYPE_WWANPP, IfOperStatusDormant, true, "late"});
    machine().network().AddAdapter({"{C}", IF_TYPE_WWANPP, IfOperStatusDormant, true, "late"});
    given = size;
    EXPECT_EQ(GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST, nullptr, list, &given), ERROR_BUFFER_OVERFLOW);
    EXPECT_GT(given, size);
}

TEST_F(NetworkCalls, ModemAdapterAndClassSubkeyFollowItsPresence)
{
    auto& mbn = machine().mbn();
    const std::string subkey = std::string(sim::Network::kClassKey) + "\\0000";
    auto modemListed = [&] { return !machine().network().Adapters().empty(); };
    EXPECT_TRUE(modemListed());
    EXPECT_EQ(machine().registry().Subkeys(sim::Network::kClassKey), std::vector<std::string>{"0000"});

    // The adapter goes and comes with the modem, before the news of it is out,
    // and an unplug and plug at one instant leave it listed.
    mbn.RemoveModem();
    EXPECT_FALSE(modemListed());
    EXPECT_FALSE(machine().registry().KeyExists(subkey));
    mbn.ReturnModem();
    mbn.RemoveModem();
    ASSERT_TRUE(mbn.WaitIdle());
    EXPECT_FALSE(modemListed());

    machine().network().SetModemProductId("0E81");
    mbn.ReturnModem();
    EXPECT_TRUE(modemListed());
    ASSERT_TRUE(mbn.WaitIdle());
    EXPECT_TRUE(modemListed());
    HKEY key = SetupDiOpenClassRegKeyExW(&GUID_DEVCLASS_NET, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr);
    ASSERT_NE(key, INVALID_HANDLE_VALUE);
    char id[64] = {};
    DWORD size = sizeof(id);
    HKEY modem = nullptr;
    ASSERT_EQ(RegOpenKeyExA(key, "0000", 0, KEY_READ, &modem), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(modem, "DeviceInstanceID", nullptr, nullptr, reinterpret_cast<BYTE*>(id), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(id, "USB\\VID_4B6E&PID_0E81&MI_0C\\7&1A2B3C4D&0&000C");
    RegCloseKey(modem);
    RegCloseKey(key);

    // Only the installer key of the network class is held.
    EXPECT_EQ(SetupDiOpenClassRegKeyExW(&GUID_NULL, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_CLASS);
}

}  // namespace
