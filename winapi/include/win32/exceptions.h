// Exceptions that no handler took: the process-wide filter that sees them, and
// the immediate end of the process. On Linux the fatal signals (a bad memory
// access, a division by zero, an illegal instruction, a bus error)
// reach the filter as the exceptions Windows raises for them; an abort does not,
// as on Windows, where the C runtime's abort ends the process by itself.
#pragma once

#include "win32/base.h"

#define EXCEPTION_MAXIMUM_PARAMETERS 15
#define EXCEPTION_NONCONTINUABLE 0x1u

#define EXCEPTION_ACCESS_VIOLATION 0xC0000005u
#define EXCEPTION_IN_PAGE_ERROR 0xC0000006u
#define EXCEPTION_ILLEGAL_INSTRUCTION 0xC000001Du
#define EXCEPTION_FLT_DIVIDE_BY_ZERO 0xC000008Eu
#define EXCEPTION_FLT_INEXACT_RESULT 0xC000008Fu
#define EXCEPTION_FLT_INVALID_OPERATION 0xC0000090u
#define EXCEPTION_FLT_OVERFLOW 0xC0000091u
#define EXCEPTION_FLT_UNDERFLOW 0xC0000093u
#define EXCEPTION_INT_DIVIDE_BY_ZERO 0xC0000094u
#define EXCEPTION_INT_OVERFLOW 0xC0000095u
#define EXCEPTION_PRIV_INSTRUCTION 0xC0000096u
#define EXCEPTION_STACK_OVERFLOW 0xC00000FDu
#define STATUS_FATAL_APP_EXIT 0x40000015u

#define EXCEPTION_EXECUTE_HANDLER 1
#define EXCEPTION_CONTINUE_SEARCH 0
#define EXCEPTION_CONTINUE_EXECUTION (-1)

typedef struct _EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    struct _EXCEPTION_RECORD* ExceptionRecord;
    PVOID ExceptionAddress;
    DWORD NumberParameters;
    ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
} EXCEPTION_RECORD, *PEXCEPTION_RECORD;

// Only the registers the simulated laptop fills; the service never reads them.
typedef struct _CONTEXT {
    DWORD64 Rip;
    DWORD64 Rsp;
    DWORD64 Rbp;
} CONTEXT, *PCONTEXT;

typedef struct _EXCEPTION_POINTERS {
    PEXCEPTION_RECORD ExceptionRecord;
    PCONTEXT ContextRecord;
} EXCEPTION_POINTERS, *PEXCEPTION_POINTERS;

typedef LONG(WINAPI* PTOP_LEVEL_EXCEPTION_FILTER)(PEXCEPTION_POINTERS exceptionInfo);
typedef PTOP_LEVEL_EXCEPTION_FILTER LPTOP_LEVEL_EXCEPTION_FILTER;

// Returns the filter installed before.
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

// Handlers that see an exception before the filter (first: ahead of those
// added before); one returning EXCEPTION_CONTINUE_EXECUTION ends the search.
// At most four; null when no more can be added.
typedef LONG(CALLBACK* PVECTORED_EXCEPTION_HANDLER)(PEXCEPTION_POINTERS exceptionInfo);
PVOID AddVectoredExceptionHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler);

// The stack the calling thread keeps for handling its own stack overflow; a
// request is only ever raised. Sets *stackSizeInBytes to the earlier
// guarantee; fails (ERROR_INVALID_PARAMETER) above 32 KiB.
BOOL SetThreadStackGuarantee(PULONG stackSizeInBytes);
// Ends the process at once: the message goes to stderr and the exit status is
// 21, the low byte of STATUS_FATAL_APP_EXIT.
void FatalAppExitW(UINT action, LPCWSTR messageText);
HANDLE GetCurrentProcess();
// The caller's instruction, stack and frame pointers.
void RtlCaptureContext(PCONTEXT context);
