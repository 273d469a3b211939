// Windows file times (100 ns ticks since 1 January 1601) as the logging needs them.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr uint64_t kFileTimeTicksPerSecond = 10000000ULL;
constexpr uint64_t kFileTimeSecondsBeforeUnixEpoch = 11644473600ULL;  // 1601-01-01 to 1970-01-01

// The file time's two halves joined.
inline uint64_t FileTimeTicks(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
