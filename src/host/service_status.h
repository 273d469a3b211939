// The status the service reports to the service control manager.
#pragma once

#include <windows.h>

// Every report after the start one accepts stop, pause and continue.
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;

extern SERVICE_STATUS g_ServiceStatus;
extern SERVICE_STATUS_HANDLE g_hServiceStatus;
// Check point of the next pending report; it only rises.
extern DWORD g_nCheckPoint;

// The current value of g_nCheckPoint, which then moves on by one.
DWORD NextCheckPoint();

// Fills g_ServiceStatus (exit codes 0) and hands it to SetServiceStatus.
void ReportStatus(DWORD state, DWORD controlsAccepted, DWORD checkPoint, DWORD waitHint);
