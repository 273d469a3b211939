// System firmware tables (the raw SMBIOS table), over the simulated laptop's firmware.
#pragma once

#include "win32/base.h"

// Copies the firmware table into the buffer and returns its size; when the
// buffer is missing or too small, returns the size needed without copying.
// Returns 0 when the provider has no such table.
UINT GetSystemFirmwareTable(DWORD firmwareTableProviderSignature, DWORD firmwareTableID,
                            PVOID firmwareTableBuffer, DWORD bufferSize);
