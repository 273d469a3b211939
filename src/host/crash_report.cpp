#include "host/crash_report.h"

#include <objbase.h>
#include <dbghelp.h>

#include <cwchar>

#include "host/restart_service.h"
#include "logging/log_helper.h"

namespace {

// "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X.dmp": 36 characters and the extension.
constexpr size_t kDumpNameLength = 40;

// The dump's file name after a fresh GUID; empty when no GUID can be made.
void FormatDumpName(wchar_t (&name)[kDumpNameLength + 1])
{
    GUID guid = {};
    if (FAILED(CoCreateGuid(&guid))) {
        return;
    }
    std::swprintf(name, kDumpNameLength + 1, L"%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X.dmp",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

// Writes the dump into the folder (given with its trailing backslash). A
// folder too long for the name writes none: a cut path would name another file.
void WriteDump(const wchar_t* folder, PEXCEPTION_POINTERS exceptionInfo, DWORD threadId)
{
    wchar_t dumpName[kDumpNameLength + 1] = {};
    FormatDumpName(dumpName);
    wchar_t dumpPath[MAX_PATH] = {};
    if (std::wcslen(folder) + std::wcslen(dumpName) >= MAX_PATH) {
        return;
    }
    std::wcscpy(dumpPath, folder);
    std::wcscat(dumpPath, dumpName);

    HANDLE hFile = CreateFileW(dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return;
    }
    MINIDUMP_EXCEPTION_INFORMATION dumpException = {};
    dumpException.ThreadId = threadId;
    dumpException.ExceptionPointers = exceptionInfo;
    dumpException.ClientPointers = TRUE;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), hFile, MiniDumpNormal, &dumpException, nullptr,
                      nullptr);
    CloseHandle(hFile);
}

}  // namespace

void ReportCrash(PEXCEPTION_POINTERS exceptionInfo, DWORD threadId)
{
    LogHelper::EnterCrashMode();
    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    wchar_t* lastBackslash = std::wcsrchr(modulePath, L'\\');
    if (lastBackslash != nullptr) {
        lastBackslash[1] = L'\0';
        WriteDump(modulePath, exceptionInfo, threadId);
        RestartService();
    }
    LogHelper::FlushForCrash();
    FatalAppExitW(0, L"Fatal Error");
    for (;;) {
        Sleep(INFINITE);  // FatalAppExitW does not return
    }
}
