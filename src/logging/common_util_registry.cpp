#include "logging/common_util_registry.h"

#include "logging/log_helper.h"

namespace CommonUtil {

int ReadAllLogRegValue()
{
    LogScope scope("CommonUtil::ReadAllLogRegValue");
    return ReadDWORDRegValue(kLogSwitchKey, kLogSwitchValue, 1);
}

int ReadDWORDRegValue(const wchar_t* subKey, const wchar_t* valueName, int defaultValue)
{
    LogScope scope("CommonUtil::ReadDWORDRegValue");
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return defaultValue;
    }
    int result = defaultValue;
    DWORD type = REG_NONE;
    BYTE data[sizeof(DWORD)] = {};
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key, valueName, nullptr, &type, data, &size) == ERROR_SUCCESS && type == REG_DWORD &&
        size != 0) {
        result = data[0];  // the least significant byte
    }
    RegCloseKey(key);
    return result;
}

}  // namespace CommonUtil
