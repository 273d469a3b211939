#include "logging/log_helper.h"

#include <windows.h>

#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <iterator>

#include "logging/async_file_logger.h"
#include "logging/common_util_registry.h"
#include "logging/file_time.h"
#include "logging/log_folder_trust.h"
#include "logging/path_format.h"

namespace {

constexpr const char* kLoggerName = "DPRServiceLog";
constexpr const char* kLogSubFolder = "\\Varnick Wireless Inc\\DPR Service";
constexpr const char* kInitFunction = "LogHelper::Init";
constexpr size_t kMessageBufferSize = 1024;

// The crash path's bounds: how long a line waits for a lock of the log (the
// faulted thread may hold it for good) and for the writer thread to write it out.
constexpr DWORD kCrashLockWaitMs = 1000;
constexpr DWORD kCrashWriteOutMs = 1000;
constexpr DWORD kCrashPollMs = 10;

// The thread that reports a crash (0: none yet), and whether it gave up on a lock.
std::atomic<DWORD> g_crashReporter{0};
std::atomic<bool> g_crashLockGivenUp{false};

bool OnCrashPath()
{
    const DWORD reporter = g_crashReporter.load();
    return reporter != 0 && reporter == GetCurrentThreadId();
}

// Takes the lock; on the crash path only within kCrashLockWaitMs, and not at
// all once a lock was not had in time. Other threads wait as always.
bool Lock(std::mutex& mutex)
{
    if (!OnCrashPath()) {
        mutex.lock();
        return true;
    }
    for (DWORD waited = 0; !g_crashLockGivenUp.load(); waited += kCrashPollMs) {
        if (mutex.try_lock()) {
            return true;
        }
        if (waited >= kCrashLockWaitMs) {
            g_crashLockGivenUp = true;
            break;
        }
        Sleep(kCrashPollMs);
    }
    return false;
}

// "<folder>\varnick_dpr_service_log_<local start time>.log"; false when it does not fit.
bool BuildLogFilePath(const std::string& folder, char (&path)[MAX_PATH])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FormatPath(path, "%s\\varnick_dpr_service_log_%04d-%02d-%02d_%02d.%02d.%02d.log", folder.c_str(),
                      now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

// Creates the run's file, or opens the one of an earlier start in the same
// second, without following a link at its name; false unless it is a plain
// file, so that the library's own open by name writes nowhere else.
bool PrepareLogFile(const char* path)
{
    HANDLE file = OpenWithoutFollowing(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool plain = GetFileInformationByHandle(file, &info) && IsPlainFile(info);
    CloseHandle(file);
    return plain;
}

// The run's logger over the file, or null when the library cannot open it.
std::shared_ptr<spdlog::logger> OpenLogger(const char* path)
{
    try {
        return MakeAsyncFileLogger(kLoggerName, NativePath(path));
    } catch (const std::exception&) {
        return nullptr;
    }
}

// The id as "%08x" would write it, without the cost of a formatted print on
// every line: eight lower-case hexadecimal digits.
void FormatThreadId(char (&buffer)[32])
{
    static const char kDigits[] = "0123456789abcdef";
    uint32_t id = GetCurrentThreadId();
    for (int i = 7; i >= 0; --i) {
        buffer[i] = kDigits[id & 0xF];
        id >>= 4;
    }
    buffer[8] = '\0';
}

}  // namespace

LogHelper& LogHelper::GetInstance()
{
    // Never destroyed: any thread may still log while the process exits.
    static LogHelper* instance = new LogHelper();
    return *instance;
}

std::string LogHelper::LogFolder()
{
    // Without "programdata" the folder hangs off the current drive's root.
    char programData[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA("programdata", programData, MAX_PATH);
    if (length >= MAX_PATH) {
        return std::string();
    }
    char folder[MAX_PATH];
    return FormatPath(folder, "%s%s", programData, kLogSubFolder) ? folder : std::string();
}

std::shared_ptr<spdlog::logger> LogHelper::CurrentLogger()
{
    if (!Lock(m_loggerMutex)) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_loggerMutex, std::adopt_lock);
    return m_logger;
}

void LogHelper::EnterCrashMode()
{
    g_crashReporter = GetCurrentThreadId();
}

void LogHelper::FlushForCrash()
{
    if (auto logger = GetInstance().CurrentLogger()) {
        AwaitWrittenOut(*logger, kCrashWriteOutMs, kCrashPollMs);
    }
}

void LogHelper::Init()
{
    LogHelper& self = GetInstance();
    spdlog::drop(kLoggerName);  // a second Init replaces the first logger
    std::shared_ptr<spdlog::logger> logger;
    std::string folder = LogFolder();
    LogFolderTrust trust;
    char path[MAX_PATH];
    // A folder that is not the service's own gets no file: nothing is written there or anywhere else.
    if (!folder.empty()) {
        trust = TrustLogFolder(folder, true);
        if (trust.trusted && BuildLogFilePath(folder, path) && PrepareLogFile(path)) {
            logger = OpenLogger(path);
        }
    }
    // Without a file the service runs on; every later call stays harmless.
    {
        std::lock_guard<std::mutex> lock(self.m_loggerMutex);
        self.m_logger = logger;
    }
    if (!logger) {
        return;
    }
    // The switch is read with the level off, so its own scope lines are not written.
    logger->set_level(spdlog::level::off);
    if (CommonUtil::ReadAllLogRegValue() == 1) {
        logger->set_level(spdlog::level::trace);
    }
    LogRepairs(kInitFunction, trust);
}

void LogHelper::LogRepairs(const char* function, const LogFolderTrust& trust)
{
    for (const std::string& folder : trust.repaired) {
        Log(LOG_LEVEL_INFO, function, "log folder %s: its inherited permissions were replaced by the service's own",
            folder.c_str());
    }
}

void LogHelper::Shutdown()
{
    try {
        spdlog::shutdown();
    } catch (const std::exception&) {
        // Nothing left to report to.
    }
}

namespace {

// The time a line is stamped with: the system time as Windows reports it, so
// lines carry the same clock as the file name and the rest of the service.
spdlog::log_clock::time_point LineTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = FileTimeTicks(now) - kFileTimeSecondsBeforeUnixEpoch * kFileTimeTicksPerSecond;
    const std::chrono::microseconds sinceEpoch(ticks / 10);
    return spdlog::log_clock::time_point(std::chrono::duration_cast<spdlog::log_clock::duration>(sinceEpoch));
}

// Hands a formatted payload to the logger, stamped with the line's time.
void HandOver(spdlog::logger& logger, spdlog::level::level_enum level, const fmt::memory_buffer& payload)
{
    // This overload of the library does not catch its own errors (as its
    // formatting overloads do): after the shutdown it throws for want of its
    // thread pool, and such a line is to be dropped without a trace.
    try {
        logger.log(LineTime(), spdlog::source_loc{}, level, spdlog::string_view_t(payload.data(), payload.size()));
    } catch (const std::exception&) {
    }
}

// The payload of a LogHelper::Log line and the library's level for it; false
// when the level writes nothing (outside 1 to 6, or held back by the logger).
bool FormatPayload(const spdlog::logger& logger, int level, const char* function, const char* threadId,
                   const char* message, spdlog::level::level_enum& libraryLevel, fmt::memory_buffer& payload)
{
    using spdlog::level::level_enum;
    auto out = std::back_inserter(payload);
    switch (level) {
    case LOG_LEVEL_ERROR:
        libraryLevel = level_enum::err;
        fmt::format_to(out, "{} e :   {}", threadId, message);
        break;
    case LOG_LEVEL_INFO:
    case LOG_LEVEL_INFO_ALT:
        libraryLevel = level_enum::info;
        fmt::format_to(out, "{} i :   {}", threadId, message);
        break;
    case LOG_LEVEL_WARNING:
        libraryLevel = level_enum::warn;
        fmt::format_to(out, "{} w :   {}", threadId, message);
        break;
    case LOG_LEVEL_BARE:
        libraryLevel = level_enum::info;
        fmt::format_to(out, "{}", message);
        break;
    case LOG_LEVEL_TRACE:
        libraryLevel = level_enum::trace;
        fmt::format_to(out, "{} h :   {}, {}", threadId, function ? function : "", message);
        break;
    default:
        return false;
    }
    return logger.should_log(libraryLevel);
}

}  // namespace

void LogHelper::WriteFormatted(int level, const char* function, bool singleLine, const char* format, va_list args)
{
    auto logger = CurrentLogger();
    if (!logger || format == nullptr || logger->level() == spdlog::level::off) {
        return;  // nothing would be written: skip the formatting
    }
    // Formatted into the caller's own buffers, outside the lock.
    char message[kMessageBufferSize];
    if (std::vsnprintf(message, sizeof(message), format, args) < 0) {
        message[0] = '\0';  // a failed format may leave the buffer unterminated
    }
    if (singleLine) {
        for (char* c = message; *c != '\0'; ++c) {
            if (*c == '\r' || *c == '\n') {
                *c = '\t';
            }
        }
    }
    char threadId[32];
    FormatThreadId(threadId);
    spdlog::level::level_enum libraryLevel;
    fmt::memory_buffer payload;
    if (!FormatPayload(*logger, level, function, threadId, message, libraryLevel, payload)) {
        return;
    }
    // One line at a time is stamped and queued, so the file's order is the
    // order of the lines' times.
    if (!Lock(m_mutex)) {
        return;
    }
    HandOver(*logger, libraryLevel, payload);
    m_mutex.unlock();
    if (OnCrashPath()) {
        AwaitWrittenOut(*logger, kCrashWriteOutMs, kCrashPollMs);
    }
}

void LogHelper::Log(int level, const char* function, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    GetInstance().WriteFormatted(level, function, false, format, args);
    va_end(args);
}

void LogHelper::LogSingleLine(const char* function, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    GetInstance().WriteFormatted(LOG_LEVEL_INFO, function, true, format, args);
    va_end(args);
}

void LogHelper::WriteScopeLine(char sign, const char* function)
{
    auto logger = GetInstance().CurrentLogger();
    if (!logger || !logger->should_log(spdlog::level::info)) {
        return;
    }
    char threadId[32];
    FormatThreadId(threadId);
    fmt::memory_buffer payload;
    fmt::format_to(std::back_inserter(payload), "{} h : {} {}", threadId, sign, function ? function : "");
    HandOver(*logger, spdlog::level::info, payload);
}

LogScope::LogScope(const char* function) : m_function(function)
{
    LogHelper::WriteScopeLine('+', m_function);
}

LogScope::~LogScope()
{
    LogHelper::WriteScopeLine('-', m_function);
}
