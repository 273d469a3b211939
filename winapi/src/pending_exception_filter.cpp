// TEMPORARY, until the crash support lands (see its header).
#include <windows.h>

#include <atomic>

namespace {
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_filter{nullptr};
}

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter)
{
    return g_filter.exchange(filter);
}
