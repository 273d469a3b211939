// The simulated service control manager refuses what Windows refuses.
#include <gtest/gtest.h>

#include <windows.h>

#include "machine_fixture.h"

namespace {

using ServiceControlManager = MachineTest;

std::vector<DWORD> g_results;

constexpr auto IgnoreControl = [](DWORD, DWORD, LPVOID, LPVOID) -> DWORD { return NO_ERROR; };

VOID WINAPI ProbeMain(DWORD, LPWSTR*);
wchar_t g_name[] = L"Probe";
const SERVICE_TABLE_ENTRYW g_table[] = {{g_name, ProbeMain}, {nullptr, nullptr}};

VOID WINAPI ProbeMain(DWORD, LPWSTR*)
{
    auto Record = [](bool succeeded) { g_results.push_back(succeeded ? static_cast<DWORD>(NO_ERROR) : GetLastError()); };
    Record(StartServiceCtrlDispatcherW(g_table));
    Record(RegisterServiceCtrlHandlerExW(L"Other", IgnoreControl, nullptr) != nullptr);
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(L"PROBE", IgnoreControl, nullptr);
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, 9, 0, 0, 0, 0, 0};
    Record(SetServiceStatus(handle, &status));
    status.dwCurrentState = SERVICE_STOPPED;
    Record(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(&status), &status));
    Record(SetServiceStatus(handle, &status));
    Record(SetServiceStatus(handle, &status));  // the handle ended with the stop
}

TEST_F(ServiceControlManager, RefusesASecondDispatcherForeignNamesAndHandlesAndBadStates)
{
    EXPECT_EQ(RegisterServiceCtrlHandlerExW(g_name, IgnoreControl, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_IN_EXE));
    sim::ServiceControl& scm = machine().services();
    EXPECT_EQ(scm.RunAsService([] { return StartServiceCtrlDispatcherW(g_table) ? 0 : 1; }), 0);
    ASSERT_TRUE(scm.AwaitServiceMainEnd());
    EXPECT_EQ(g_results, (std::vector<DWORD>{ERROR_SERVICE_ALREADY_RUNNING, ERROR_SERVICE_NOT_IN_EXE, ERROR_INVALID_DATA,
                                             ERROR_INVALID_HANDLE, NO_ERROR, ERROR_INVALID_HANDLE}));
    EXPECT_EQ(scm.Reports().size(), 1u);
    EXPECT_EQ(scm.Send(SERVICE_CONTROL_INTERROGATE), static_cast<uint32_t>(ERROR_SERVICE_NOT_ACTIVE));
}

}  // namespace
