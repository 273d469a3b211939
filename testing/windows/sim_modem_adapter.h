// The one call between the adapter shim (iphlpapi_shim/) and the simulated
// modem's COM server (sim_modem/): the shim loads the server's module from its
// registration and asks it for the modem's network adapter.
#pragma once

#include <windows.h>

// Fills adapterName with the modem's interface id, NUL-terminated ASCII (a GUID
// in braces, e.g. "{3F2A6C1E-8B4D-4E7A-9D15-6C0B2E9A7F41}"), and *operStatus
// with the adapter's IF_OPER_STATUS (1 up, 5 dormant, ...), then returns TRUE.
// Returns FALSE when the modem is absent or adapterNameSize is too small.
extern "C" BOOL WINAPI HalvexSimModemAdapter(char* adapterName, DWORD adapterNameSize, DWORD* operStatus);

using HalvexSimModemAdapterFn = BOOL(WINAPI*)(char* adapterName, DWORD adapterNameSize, DWORD* operStatus);

// The export's undecorated name, for GetProcAddress.
#define HALVEX_SIM_MODEM_ADAPTER_EXPORT "HalvexSimModemAdapter"

// The class whose InprocServer32 registration names the simulated modem's module.
#define HALVEX_SIM_MODEM_CLSID_TEXT L"{BDFEE05B-4418-11DD-90ED-001C257CCFF1}"
