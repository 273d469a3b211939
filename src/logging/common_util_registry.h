// Registry switch of the log.
#pragma once

#include <windows.h>

namespace CommonUtil {

// Key and value of the logging switch under HKEY_LOCAL_MACHINE.
constexpr const wchar_t* kLogSwitchKey = L"SOFTWARE\\Varnick Wireless Inc\\Logs";
constexpr const wchar_t* kLogSwitchValue = L"IsAll";

// 1 when logging is to be on: the switch is missing, unreadable or its least
// significant byte is 1.
int ReadAllLogRegValue();

// Least significant byte of a REG_DWORD under HKEY_LOCAL_MACHINE, or
// defaultValue when the key or value is missing, not a DWORD or empty.
int ReadDWORDRegValue(const wchar_t* subKey, const wchar_t* valueName, int defaultValue);

}  // namespace CommonUtil
