#include "discovery/device_lookup.h"

#include <windows.h>
#include <setupapi.h>
#include <devguid.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "logging/log_helper.h"

namespace CommonUtil {

namespace {

constexpr const char* kVendorId = "4B6E";
constexpr const char* kProductIds[] = {"0E81", "0E82", "0E83"};

// Registry values are read into 256 bytes; a longer value does not match.
using ValueBuffer = char[256];

bool ReadValue(HKEY key, const char* name, ValueBuffer& buffer, DWORD& size)
{
    size = sizeof(buffer);
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) == ERROR_SUCCESS;
}

// The text of a value as read: up to its first zero and never past the bytes
// the read reported, as a value need not carry a terminating zero.
std::string_view ValueText(const ValueBuffer& buffer, DWORD size)
{
    std::string_view bytes(buffer, size);
    return bytes.substr(0, bytes.find('\0'));
}

// A heap copy of the value, upper-cased, made through a zero-filled buffer of
// 260 bytes so that it always ends.
char* UpperCaseCopy(const ValueBuffer& value, DWORD size)
{
    char text[260] = {};
    std::memcpy(text, value, size);
    for (char* c = text; *c != '\0'; ++c) {
        if (*c >= 'a' && *c <= 'z') {
            *c = static_cast<char>(*c - 'a' + 'A');
        }
    }
    const size_t length = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(length));
    if (copy != nullptr) {
        std::memcpy(copy, text, length);
    }
    return copy;
}

}  // namespace

bool IsVarnickMbnDevcie(const char* adapterName)
{
    LogScope scope("CommonUtil::IsVarnickMbnDevcie");
    char* instanceId = nullptr;
    if (GetVarnickMbnInstViaCfgId(adapterName, &instanceId) == 0) {
        return false;
    }
    bool isModem = false;
    if (std::strstr(instanceId, kVendorId) != nullptr) {
        for (const char* productId : kProductIds) {
            if (std::strstr(instanceId, productId) != nullptr) {
                isModem = true;
                break;
            }
        }
    }
    std::free(instanceId);
    return isModem;
}

int GetVarnickMbnInstViaCfgId(const char* cfgId, char** instanceId)
{
    LogScope scope("CommonUtil::GetVarnickMbnInstViaCfgId");
    LogHelper::Log(LOG_LEVEL_TRACE, "CommonUtil::GetVarnickMbnInstViaCfgId", "Get Mbim net instance id via %s", cfgId);
    *instanceId = nullptr;
    HKEY classKey = SetupDiOpenClassRegKeyExW(&GUID_DEVCLASS_NET, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr);
    if (classKey == INVALID_HANDLE_VALUE) {
        return 0;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(classKey, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        HKEY subkey = nullptr;
        if (RegOpenKeyExA(classKey, name, 0, KEY_READ, &subkey) != ERROR_SUCCESS) {
            continue;
        }
        ValueBuffer value;
        DWORD size = 0;
        if (ReadValue(subkey, "NetCfgInstanceId", value, size) &&
            ValueText(value, size).find(cfgId) != std::string_view::npos &&
            ReadValue(subkey, "DeviceInstanceID", value, size)) {
            *instanceId = UpperCaseCopy(value, size);
            RegCloseKey(subkey);
            RegCloseKey(classKey);
            if (*instanceId == nullptr) {
                return 0;
            }
            LogHelper::Log(LOG_LEVEL_INFO, "CommonUtil::GetVarnickMbnInstViaCfgId", "Get Instance Id %s", *instanceId);
            return 1;
        }
        RegCloseKey(subkey);
    }
    RegCloseKey(classKey);
    return 0;
}

}  // namespace CommonUtil
