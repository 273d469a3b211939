#include "core/state/halvex_service.h"
#include "host/service_host.h"
#include "host/service_status.h"
#include "logging/log_helper.h"

DWORD WINAPI HalvexServiceHandlerEx(DWORD control, DWORD, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP: {
        LogHelper::Log(LOG_LEVEL_INFO, __FUNCTION__, "SERVICE_CONTROL_STOP");
        ReportStatus(SERVICE_STOP_PENDING, kControlsAccepted, NextCheckPoint(), 0);
        // The service main, waiting in ServiceRun, does the rest of the stop.
        CHalvexService* service = CHalvexService::GetInstance();
        service->m_bStopRequested = true;
        EnterCriticalSection(&service->m_csStopEvent);
        SetEvent(service->m_hStopEvent);
        LeaveCriticalSection(&service->m_csStopEvent);
        LogHelper::Shutdown();
        break;
    }
    // Pause and continue are only acknowledged: the service keeps working.
    case SERVICE_CONTROL_PAUSE:
        ReportStatus(SERVICE_PAUSE_PENDING, kControlsAccepted, NextCheckPoint(), 0);
        break;
    case SERVICE_CONTROL_CONTINUE:
        ReportStatus(SERVICE_CONTINUE_PENDING, kControlsAccepted, NextCheckPoint(), 0);
        break;
    default:
        break;
    }
    return NO_ERROR;
}
