// TEMPORARY, until the crash support lands: the unhandled-exception filter's
// declarations, so that wWinMain can install its filter. The filter is stored
// but no fault reaches it yet.
#pragma once

#include "win32/base.h"

#define EXCEPTION_CONTINUE_SEARCH 0

typedef struct _EXCEPTION_POINTERS {
    struct _EXCEPTION_RECORD* ExceptionRecord;
    PVOID ContextRecord;
} EXCEPTION_POINTERS, *PEXCEPTION_POINTERS;

typedef LONG(WINAPI* LPTOP_LEVEL_EXCEPTION_FILTER)(struct _EXCEPTION_POINTERS* exceptionInfo);

// Returns the filter installed before.
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);
