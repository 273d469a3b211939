// halvex-service-control.exe NAME query|pause|continue|interrogate|stop|config
// A test-only stand-in for the parts of `sc` that Wine's lacks: sends the
// control (none for query) through the service control manager, then prints
// the status the service reported last, one line:
//   control=<name> result=<0 or the error> state=<n> controls=<n> exit=<n> checkpoint=<n> wait=<n>
// config prints the service's configuration instead (as `sc qc`), one line:
//   config type=<n> start=<n> account=<name> path=<binary path>
// Exit status: 0 when the control was delivered (or for query), 1 when the
// manager refused it, 2 for a bad command line or a service that cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

struct Control {
    const wchar_t* name;
    DWORD code;  // 0: only query
    DWORD access;
};

const Control kControls[] = {
    {L"query", 0, SERVICE_QUERY_STATUS},
    {L"pause", SERVICE_CONTROL_PAUSE, SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS},
    {L"continue", SERVICE_CONTROL_CONTINUE, SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS},
    {L"interrogate", SERVICE_CONTROL_INTERROGATE, SERVICE_INTERROGATE | SERVICE_QUERY_STATUS},
    {L"stop", SERVICE_CONTROL_STOP, SERVICE_STOP | SERVICE_QUERY_STATUS},
};

// Prints the configuration the manager holds for the service; 0 on success.
int PrintConfig(SC_HANDLE service)
{
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        std::fwprintf(stderr, L"QueryServiceConfigW failed: error %lu\n", GetLastError());
        return 1;
    }
    HLOCAL buffer = LocalAlloc(LMEM_FIXED, needed);
    auto* config = static_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    if (config == nullptr || !QueryServiceConfigW(service, config, needed, &needed)) {
        std::fwprintf(stderr, L"QueryServiceConfigW failed: error %lu\n", GetLastError());
        LocalFree(buffer);
        return 1;
    }
    std::wprintf(L"config type=%lu start=%lu account=%ls path=%ls\n", config->dwServiceType, config->dwStartType,
                 config->lpServiceStartName != nullptr ? config->lpServiceStartName : L"",
                 config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"");
    LocalFree(buffer);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const Control config = {L"config", 0, SERVICE_QUERY_CONFIG};
    const Control* control = argc == 3 && std::wcscmp(argv[2], config.name) == 0 ? &config : nullptr;
    for (const Control& candidate : kControls) {
        if (argc == 3 && std::wcscmp(argv[2], candidate.name) == 0) {
            control = &candidate;
        }
    }
    if (control == nullptr) {
        std::fwprintf(stderr, L"usage: halvex-service-control NAME query|pause|continue|interrogate|stop|config\n");
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager == nullptr ? nullptr : OpenServiceW(manager, argv[1], control->access);
    if (service == nullptr) {
        std::fwprintf(stderr, L"cannot open service \"%ls\": error %lu\n", argv[1], GetLastError());
        if (manager != nullptr) {
            CloseServiceHandle(manager);
        }
        return 2;
    }
    if (control == &config) {
        const int rc = PrintConfig(service);
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return rc;
    }
    SERVICE_STATUS status = {};
    DWORD result = 0;
    if (control->code != 0 && !ControlService(service, control->code, &status)) {
        result = GetLastError();
    }
    if (!QueryServiceStatus(service, &status)) {
        std::fwprintf(stderr, L"QueryServiceStatus failed: error %lu\n", GetLastError());
    }
    std::wprintf(L"control=%ls result=%lu state=%lu controls=%lu exit=%lu checkpoint=%lu wait=%lu\n", control->name,
                 result, status.dwCurrentState, status.dwControlsAccepted, status.dwWin32ExitCode, status.dwCheckPoint,
                 status.dwWaitHint);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result == 0 ? 0 : 1;
}
