#include <cstring>
#include <string>

#include <windows.h>

#include "sim/machine.h"

// Opened keys are heap objects holding their path below HKEY_LOCAL_MACHINE and
// the access they were opened with.
struct HKEY__ {
    std::string path;
    REGSAM access;
};

namespace {

// The predefined handles are 32-bit values from 0x80000000 on, sign-extended
// to pointer width; no opened key can lie there.
bool IsPredefined(HKEY key)
{
    auto value = reinterpret_cast<LONG_PTR>(key);
    return value >= static_cast<LONG>(0x80000000u) && value <= static_cast<LONG>(0x800000FFu);
}

// The path below HKEY_LOCAL_MACHINE of a key that grants `needed`. The other
// hives are empty on the simulated laptop.
LSTATUS Resolve(HKEY key, REGSAM needed, std::string& path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        path.clear();
        return ERROR_SUCCESS;
    }
    if (IsPredefined(key)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if ((key->access & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    path = key->path;
    return ERROR_SUCCESS;
}

std::string Join(const std::string& path, const std::string& subKey)
{
    if (subKey.empty()) {
        return path;
    }
    return path.empty() ? subKey : path + "\\" + subKey;
}

LSTATUS OpenKey(HKEY key, const std::string& subKey, REGSAM access, PHKEY result)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    std::string path;
    if (LSTATUS status = Resolve(key, 0, path); status != ERROR_SUCCESS) {
        return status;
    }
    path = Join(path, subKey);
    if (!path.empty() && !sim::Machine::Get().registry().KeyExists(path)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (sim::Machine::Get().registry().AccessDenied(path)) {
        return ERROR_ACCESS_DENIED;
    }
    *result = new HKEY__{path, access};
    return ERROR_SUCCESS;
}

// Hands out a value's data: the size alone when no buffer is given,
// ERROR_MORE_DATA with the needed size when the buffer is too small. Data is
// handed out as stored: a string stored without a terminating zero gets none.
LSTATUS QueryValue(HKEY key, const std::string& name, bool wide, LPDWORD type, LPBYTE data, LPDWORD size)
{
    std::string path;
    if (LSTATUS status = Resolve(key, KEY_QUERY_VALUE, path); status != ERROR_SUCCESS) {
        return status;
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

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    return OpenKey(key, subKey ? sim::Narrow(subKey) : std::string(), access, result);
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    return OpenKey(key, subKey ? subKey : "", access, result);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return QueryValue(key, valueName ? sim::Narrow(valueName) : std::string(), true, type, data, size);
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return QueryValue(key, valueName ? valueName : "", false, type, data, size);
}

// The subkeys in the registry's order (names ignoring case). The name length
// counts characters: the buffer's size on entry, the name without its
// terminating zero on success. Class names and write times are not simulated.
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved, LPSTR className,
                      LPDWORD classLength, PFILETIME lastWriteTime)
{
    if (name == nullptr || nameLength == nullptr || reserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (className != nullptr || classLength != nullptr || lastWriteTime != nullptr) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    std::string path;
    if (LSTATUS status = Resolve(key, KEY_ENUMERATE_SUB_KEYS, path); status != ERROR_SUCCESS) {
        return status;
    }
    const std::vector<std::string> subkeys = sim::Machine::Get().registry().Subkeys(path);
    if (index >= subkeys.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& found = subkeys[index];
    if (*nameLength <= found.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, found.c_str(), found.size() + 1);
    *nameLength = static_cast<DWORD>(found.size());
    return ERROR_SUCCESS;
}

// Closing a predefined key succeeds and leaves it usable.
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
