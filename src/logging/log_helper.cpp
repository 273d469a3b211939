#include "logging/log_helper.h"

#include <windows.h>

#include <spdlog/async.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <iterator>
#include <utility>

#include "logging/common_util_registry.h"
#include "logging/file_time.h"
#include "logging/path_format.h"

namespace {

constexpr const char* kLoggerName = "DPRServiceLog";
constexpr const char* kLogSubFolder = "\\Varnick Wireless Inc\\DPR Service";
constexpr size_t kMaxFileSize = 1048576;
constexpr size_t kMaxRotatedFiles = 100;
constexpr size_t kMessageBufferSize = 1024;

// Creates the folder and its ancestors one by one; existing folders and drive
// roots make their creation fail, which is fine.
void CreateFolderChain(const std::string& path)
{
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\') {
            CreateDirectoryA(path.substr(0, i + 1).c_str(), nullptr);
        }
    }
    if (!path.empty() && path.back() != '\\') {
        CreateDirectoryA(path.c_str(), nullptr);
    }
}

// "<folder>\varnick_dpr_service_log_<local start time>.log"; false when it does not fit.
bool BuildLogFilePath(const std::string& folder, char (&path)[MAX_PATH])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FormatPath(path, "%s\\varnick_dpr_service_log_%04d-%02d-%02d_%02d.%02d.%02d.log", folder.c_str(),
                      now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

// The run's logger over the file, or null when the library cannot open it.
std::shared_ptr<spdlog::logger> OpenLogger(const char* path)
{
    try {
        auto logger = spdlog::rotating_logger_mt<spdlog::async_factory>(kLoggerName, NativePath(path), kMaxFileSize,
                                                                         kMaxRotatedFiles, false);
        // The service has no console: errors of the library (a call after
        // Shutdown, a full disk) stay silent.
        logger->set_error_handler([](const std::string&) {});
        logger->set_level(spdlog::level::trace);
        logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
            "%Y-%m-%d %H:%M:%S.%e %v", spdlog::pattern_time_type::local, "\r\n"));
        logger->flush_on(spdlog::level::trace);
        spdlog::flush_every(std::chrono::seconds(3));
        return logger;
    } catch (const std::exception&) {
        return nullptr;
    }
}

void FormatThreadId(char (&buffer)[32])
{
    std::snprintf(buffer, sizeof(buffer), "%08x", static_cast<unsigned>(GetCurrentThreadId()));
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
    std::lock_guard<std::mutex> lock(m_loggerMutex);
    return m_logger;
}

void LogHelper::Init()
{
    LogHelper& self = GetInstance();
    spdlog::drop(kLoggerName);  // a second Init replaces the first logger
    std::shared_ptr<spdlog::logger> logger;
    std::string folder = LogFolder();
    char path[MAX_PATH];
    if (!folder.empty()) {
        CreateFolderChain(folder);
        if (BuildLogFilePath(folder, path)) {
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

// Formats the payload and hands it to the logger with the line's time.
template <typename... Args>
void WriteStamped(spdlog::logger& logger, spdlog::level::level_enum level, fmt::format_string<Args...> format,
                  Args&&... args)
{
    if (!logger.should_log(level)) {
        return;
    }
    // This overload of the library does not catch its own errors (as its
    // formatting overloads do): after the shutdown it throws for want of its
    // thread pool, and such a line is to be dropped without a trace.
    try {
        fmt::memory_buffer payload;
        fmt::format_to(std::back_inserter(payload), format, std::forward<Args>(args)...);
        logger.log(LineTime(), spdlog::source_loc{}, level, spdlog::string_view_t(payload.data(), payload.size()));
    } catch (const std::exception&) {
    }
}

void WriteLine(spdlog::logger& logger, int level, const char* function, const char* threadId, const char* message)
{
    using spdlog::level::level_enum;
    switch (level) {
    case LOG_LEVEL_ERROR:
        WriteStamped(logger, level_enum::err, "{} e :   {}", threadId, message);
        break;
    case LOG_LEVEL_INFO:
    case LOG_LEVEL_INFO_ALT:
        WriteStamped(logger, level_enum::info, "{} i :   {}", threadId, message);
        break;
    case LOG_LEVEL_WARNING:
        WriteStamped(logger, level_enum::warn, "{} w :   {}", threadId, message);
        break;
    case LOG_LEVEL_BARE:
        WriteStamped(logger, level_enum::info, "{}", message);
        break;
    case LOG_LEVEL_TRACE:
        WriteStamped(logger, level_enum::trace, "{} h :   {}, {}", threadId, function ? function : "", message);
        break;
    default:
        break;
    }
}

}  // namespace

void LogHelper::WriteFormatted(int level, const char* function, bool singleLine, const char* format, va_list args)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto logger = CurrentLogger();
    if (!logger || format == nullptr || logger->level() == spdlog::level::off) {
        return;  // nothing would be written: skip the formatting
    }
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
    WriteLine(*logger, level, function, threadId, message);
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
    if (!logger) {
        return;
    }
    char threadId[32];
    FormatThreadId(threadId);
    WriteStamped(*logger, spdlog::level::info, "{} h : {} {}", threadId, sign, function ? function : "");
}

LogScope::LogScope(const char* function) : m_function(function)
{
    LogHelper::WriteScopeLine('+', m_function);
}

LogScope::~LogScope()
{
    LogHelper::WriteScopeLine('-', m_function);
}
