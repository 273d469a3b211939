#include "host/service_status.h"

SERVICE_STATUS g_ServiceStatus = {};
SERVICE_STATUS_HANDLE g_hServiceStatus = nullptr;
DWORD g_nCheckPoint = 1;

DWORD NextCheckPoint()
{
    return g_nCheckPoint++;
}

void ReportStatus(DWORD state, DWORD controlsAccepted, DWORD checkPoint, DWORD waitHint)
{
    g_ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_ServiceStatus.dwCurrentState = state;
    g_ServiceStatus.dwControlsAccepted = controlsAccepted;
    g_ServiceStatus.dwWin32ExitCode = 0;
    g_ServiceStatus.dwServiceSpecificExitCode = 0;
    g_ServiceStatus.dwCheckPoint = checkPoint;
    g_ServiceStatus.dwWaitHint = waitHint;
    SetServiceStatus(g_hServiceStatus, &g_ServiceStatus);
}
