#include <gtest/gtest.h>

#include <windows.h>

#include "machine_fixture.h"

using RegistryCalls = MachineTest;

TEST_F(RegistryCalls, OpenAndQueryFollowTheWindowsResults)
{
    auto& registry = machine().registry();
    registry.SetDword("SOFTWARE\\Vendor\\Logs", "IsAll", 0x101);
    registry.SetString("SOFTWARE\\Vendor\\Logs", "Name", "abc");

    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\VENDOR\\logs", 0, KEY_READ, &key), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_EQ(RegQueryValueExW(key, L"isall", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 0x101u);
    EXPECT_EQ(size, 4u);

    // Size query, too small a buffer, a missing value.
    size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 4 * sizeof(wchar_t));
    BYTE tiny[2];
    size = sizeof(tiny);
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, tiny, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4 * sizeof(wchar_t));
    EXPECT_EQ(RegQueryValueExW(key, L"Nothing", nullptr, &type, tiny, &size), ERROR_FILE_NOT_FOUND);

    char narrow[16];
    size = sizeof(narrow);
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(narrow), &size), ERROR_SUCCESS);
    EXPECT_STREQ(narrow, "abc");
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // Subkeys open relative to an opened key.
    HKEY parent = nullptr;
    HKEY child = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_READ, &parent), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(parent, "Logs", 0, KEY_READ, &child), ERROR_SUCCESS);
    RegCloseKey(child);
    RegCloseKey(parent);
    EXPECT_EQ(registry.Subkeys("SOFTWARE"), std::vector<std::string>{"Vendor"});
}

TEST_F(RegistryCalls, EnvironmentNamesIgnoreCase)
{
    char value[MAX_PATH];
    EXPECT_EQ(GetEnvironmentVariableA("programdata", value, MAX_PATH), 14u);
    EXPECT_STREQ(value, "C:\\ProgramData");
    EXPECT_EQ(GetEnvironmentVariableA("PROGRAMDATA", value, MAX_PATH), 14u);

    char small[4];
    EXPECT_EQ(GetEnvironmentVariableA("ProgramData", small, sizeof(small)), 15u);  // size needed, NUL included

    EXPECT_TRUE(SetEnvironmentVariableA("ProgramData", nullptr));
    EXPECT_EQ(GetEnvironmentVariableA("programdata", value, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST_F(RegistryCalls, PredefinedKeysEnumerationAndAccess)
{
    // Closing a predefined key does nothing; the other hives are empty.
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    machine().registry().SetRaw("SOFTWARE\\Vendor\\Sub", "Raw", REG_SZ, {'a', 'b'});
    machine().registry().CreateKey("SOFTWARE\\Vendor\\Another");
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_READ, &key), ERROR_SUCCESS);

    char name[8];
    DWORD length = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Another");
    EXPECT_EQ(length, 7u);
    length = 3;  // "Sub" and its terminating zero do not fit
    EXPECT_EQ(RegEnumKeyExA(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    length = sizeof(name);
    EXPECT_EQ(RegEnumKeyExA(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    // Data without a terminating zero is handed out without one.
    HKEY sub = nullptr;
    ASSERT_EQ(RegOpenKeyExA(key, "Sub", 0, KEY_QUERY_VALUE, &sub), ERROR_SUCCESS);
    char data[4] = {'-', '-', '-', '-'};
    DWORD size = sizeof(data);
    EXPECT_EQ(RegQueryValueExA(sub, "Raw", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(data, sizeof(data)), "ab--");
    EXPECT_EQ(size, 2u);
    // A key opened to query values cannot list its subkeys.
    EXPECT_EQ(RegEnumKeyExA(sub, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    RegCloseKey(sub);
    RegCloseKey(key);
}
