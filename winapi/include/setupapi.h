// SetupAPI: the class keys of device classes.
#pragma once

#include "windows.h"

#define DIOCR_INSTALLER 0x00000001u
#define DIOCR_INTERFACE 0x00000002u

#define ERROR_INVALID_CLASS ((DWORD)0xE0000209u)
#define ERROR_INVALID_MACHINENAME ((DWORD)0xE0000220u)

// The installer class key of a device class on the local machine, or
// INVALID_HANDLE_VALUE (as HKEY) with the reason in GetLastError.
HKEY SetupDiOpenClassRegKeyExW(const GUID* classGuid, REGSAM samDesired, DWORD flags, PCWSTR machineName,
                               PVOID reserved);
