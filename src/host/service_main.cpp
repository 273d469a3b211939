#include "config/xml_helper.h"
#include "core/state/halvex_service.h"
#include "host/crash_handler.h"
#include "host/restart_service.h"
#include "host/service_host.h"
#include "host/service_status.h"
#include "logging/log_helper.h"
#include "portability/stack_guarantee.h"

namespace {

wchar_t g_serviceName[] = L"HalvexService";

// How long the main thread waits, once the dispatcher has returned, for the
// service main's last steps (a log line, the logging shutdown, a restart
// request): they take milliseconds; the bound only keeps a stopped service's
// process from lingering if one of them hangs.
constexpr DWORD kServiceMainEndWaitMs = 5000;

// Set by the service main when it returns; never closed, as the service main
// may still be setting it while the process ends.
HANDLE g_hServiceMainEnded = nullptr;

// Signals g_hServiceMainEnded however the service main returns.
struct ServiceMainEndSignal {
    ~ServiceMainEndSignal()
    {
        if (g_hServiceMainEnded != nullptr) {
            SetEvent(g_hServiceMainEnded);
        }
    }
};

}  // namespace

extern "C" int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    InstallCrashHandler();
    g_hServiceMainEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const SERVICE_TABLE_ENTRYW table[] = {{g_serviceName, HalvexServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        LogHelper::Log(LOG_LEVEL_ERROR, __FUNCTION__, "Service Crash.Error = 0x%08x",
                       static_cast<unsigned>(GetLastError()));
        return -1;
    }
    // The dispatcher returns at the stopped report; the service main may still be running.
    if (g_hServiceMainEnded != nullptr) {
        WaitForSingleObject(g_hServiceMainEnded, kServiceMainEndWaitMs);
    }
    return 0;
}

VOID WINAPI HalvexServiceMain(DWORD, LPWSTR*)
{
    KeepStackForOverflow();
    ServiceMainEndSignal endSignal;
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, __FUNCTION__, "HalvexServiceMain Entry. Build time: %s-%s", __DATE__, __TIME__);
    g_hServiceStatus = RegisterServiceCtrlHandlerExW(g_serviceName, HalvexServiceHandlerEx, nullptr);
    if (g_hServiceStatus == nullptr) {
        LogHelper::Shutdown();
        return;
    }
    ReportStatus(SERVICE_START_PENDING, 0, NextCheckPoint(), 1000);
    XMLHelper::ParseXMLContent();
    CHalvexService* service = CHalvexService::GetInstance();
    const bool started = service->ServiceInit();
    if (started) {
        ReportStatus(SERVICE_RUNNING, kControlsAccepted, 0, 0);
        service->ServiceRun();
    } else {
        LogHelper::Log(LOG_LEVEL_ERROR, __FUNCTION__, "Service Init Error.");
    }
    service->ServiceDestroy();
    ReportStatus(SERVICE_STOPPED, kControlsAccepted, 0, 0);
    LogHelper::Log(LOG_LEVEL_WARNING, __FUNCTION__, "SERVICE STOPPED.");
    LogHelper::Shutdown();
    if (!started) {
        RestartService();
    }
}
