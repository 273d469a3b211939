#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "machine_fixture.h"

namespace {

using ServiceDatabase = MachineTest;

TEST_F(ServiceDatabase, RefusesWhatTheServiceControlManagerRefuses)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(OpenServiceW(manager, L"Other Service", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    SC_HANDLE service = OpenServiceW(manager, L"varnick HALVEX service", SERVICE_QUERY_STATUS);
    ASSERT_NE(service, nullptr);
    BYTE small[sizeof(SERVICE_STATUS_PROCESS) - 1];
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, small, sizeof(small), &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof(SERVICE_STATUS_PROCESS));
    EXPECT_FALSE(QueryServiceStatusEx(reinterpret_cast<SC_HANDLE>(manager), SC_STATUS_PROCESS_INFO, small,
                                      sizeof(small), &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_EQ(machine().serviceDatabase().OpenHandles(), 2u);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_FALSE(CloseServiceHandle(service));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_EQ(machine().serviceDatabase().OpenHandles(), 0u);
}

TEST(Shell, RefusesARecordOfAnotherSize)
{
    sim::Machine::Get().Reset();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info) - 8;
    info.lpFile = L"cmd.exe";
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(sim::Machine::Get().shell().Launches().empty());
}

}  // namespace
