#include <cstring>
#include <string>

#include <windows.h>

#include "sim/machine.h"

// Opened keys are heap objects holding their path below HKEY_LOCAL_MACHINE.
struct HKEY__ {
    std::string path;
};

namespace {

bool IsPredefined(HKEY key)
{
    auto value = reinterpret_cast<ULONG_PTR>(key);
    return value >= 0x80000000u && value <= 0x80000003u;
}

// The path of a key below HKEY_LOCAL_MACHINE; false for the other hives,
// which the simulated laptop leaves empty.
bool KeyPath(HKEY key, std::string& path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        path.clear();
        return true;
    }
    if (key == nullptr || IsPredefined(key)) {
        return false;
    }
    path = key->path;
    return true;
}

LSTATUS OpenKey(HKEY key, const std::string& subKey, PHKEY result)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    std::string path;
    if (!KeyPath(key, path)) {
        return key == nullptr ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
    }
    if (!subKey.empty()) {
        path = path.empty() ? subKey : path + "\\" + subKey;
    }
    if (!path.empty() && !sim::Machine::Get().registry().KeyExists(path)) {
        return ERROR_FILE_NOT_FOUND;
    }
    *result = new HKEY__{path};
    return ERROR_SUCCESS;
}

// Hands out a value's data: the size alone when no buffer is given,
// ERROR_MORE_DATA with the needed size when the buffer is too small.
LSTATUS QueryValue(HKEY key, const std::string& name, bool wide, LPDWORD type, LPBYTE data, LPDWORD size)
{
    std::string path;
    if (!KeyPath(key, path)) {
        return ERROR_INVALID_HANDLE;
    }
    auto value = sim::Machine::Get().registry().Query(path, name);
    if (!value) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::vector<uint8_t> bytes;
    if (value->isString) {
        if (wide) {
            std::wstring text = value->text;
            const auto* raw = reinterpret_cast<const uint8_t*>(text.c_str());
            bytes.assign(raw, raw + (text.size() + 1) * sizeof(wchar_t));
        } else {
            std::string text = sim::Narrow(value->text);
            bytes.assign(text.begin(), text.end());
            bytes.push_back(0);
        }
    } else {
        bytes = value->data;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    if (data != nullptr && size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (size == nullptr) {
        return ERROR_SUCCESS;
    }
    DWORD needed = static_cast<DWORD>(bytes.size());
    if (data == nullptr) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (!bytes.empty()) {
        std::memcpy(data, bytes.data(), bytes.size());
    }
    *size = needed;
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result)
{
    return OpenKey(key, subKey ? sim::Narrow(subKey) : std::string(), result);
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result)
{
    return OpenKey(key, subKey ? subKey : "", result);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return QueryValue(key, valueName ? sim::Narrow(valueName) : std::string(), true, type, data, size);
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return QueryValue(key, valueName ? valueName : "", false, type, data, size);
}

LSTATUS RegCloseKey(HKEY key)
{
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (!IsPredefined(key)) {
        delete key;
    }
    return ERROR_SUCCESS;
}
