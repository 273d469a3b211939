#include <cstring>
#include <ctime>

#include <windows.h>

#include "sim/machine.h"

namespace {

template <typename Char>
DWORD CopyVariable(const std::basic_string<Char>& value, Char* buffer, DWORD size)
{
    if (buffer == nullptr || value.size() + 1 > size) {
        return static_cast<DWORD>(value.size() + 1);  // the size needed, NUL included
    }
    std::copy(value.begin(), value.end(), buffer);
    buffer[value.size()] = 0;
    return static_cast<DWORD>(value.size());
}

void ToSystemTime(const struct tm& parts, uint16_t milliseconds, LPSYSTEMTIME time)
{
    time->wYear = static_cast<WORD>(parts.tm_year + 1900);
    time->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time->wDay = static_cast<WORD>(parts.tm_mday);
    time->wHour = static_cast<WORD>(parts.tm_hour);
    time->wMinute = static_cast<WORD>(parts.tm_min);
    time->wSecond = static_cast<WORD>(parts.tm_sec);
    time->wMilliseconds = milliseconds;
}

}  // namespace

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    auto value = sim::Machine::Get().environment().Get(name ? name : "");
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    return CopyVariable(*value, buffer, size);
}

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size)
{
    auto value = sim::Machine::Get().environment().Get(sim::Narrow(name ? name : L""));
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    return CopyVariable(sim::Widen(*value), buffer, size);
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value)
{
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (value == nullptr) {
        sim::Machine::Get().environment().Unset(name);
    } else {
        sim::Machine::Get().environment().Set(name, value);
    }
    return TRUE;
}

namespace {

// The simulated wall clock broken down by localtime_r or gmtime_r.
void BrokenDownNow(struct tm* (*breakDown)(const std::time_t*, struct tm*), LPSYSTEMTIME time)
{
    std::time_t seconds;
    uint16_t milliseconds;
    sim::Machine::Get().clock().Now(seconds, milliseconds);
    struct tm parts;
    breakDown(&seconds, &parts);
    ToSystemTime(parts, milliseconds, time);
}

}  // namespace

void GetLocalTime(LPSYSTEMTIME time)
{
    BrokenDownNow(localtime_r, time);
}

void GetSystemTime(LPSYSTEMTIME time)
{
    BrokenDownNow(gmtime_r, time);
}

void GetSystemTimeAsFileTime(LPFILETIME time)
{
    if (sim::Machine::Get().crash().TakeFault(__func__)) {
        *reinterpret_cast<volatile int*>(sizeof(int)) = 0;  // an unmapped page
    }
    std::time_t seconds;
    uint16_t milliseconds;
    sim::Machine::Get().clock().Now(seconds, milliseconds);
    uint64_t ticks = (static_cast<uint64_t>(seconds) + 11644473600ULL) * 10000000ULL + milliseconds * 10000ULL;
    time->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}
