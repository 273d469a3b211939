// The stack every thread of the service keeps for its own stack overflow.
#pragma once

#include <windows.h>

// Enough for the system's dispatch of the overflow and the crash path's
// hand-over to the crash thread, which run on the overflowed stack. Without
// it a thread has a few KiB left there (under Wine less than 2 KiB), too few.
constexpr ULONG kOverflowStackGuarantee = 16 * 1024;

// Called first on each thread the service makes.
inline void KeepStackForOverflow()
{
    ULONG size = kOverflowStackGuarantee;
    SetThreadStackGuarantee(&size);
}
