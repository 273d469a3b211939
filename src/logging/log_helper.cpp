#include "logging/log_helper.h"

#include <windows.h>

#include <spdlog/async.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>

#include "logging/common_util_registry.h"

namespace {

constexpr const char* kLoggerName = "DPRServiceLog";
constexpr const char* kLogSubFolder = "\\Varnick Wireless Inc\\DPR Service";
constexpr size_t kMaxFileSize = 1048576;
constexpr size_t kMaxRotatedFiles = 100;
constexpr size_t kMessageBufferSize = 1024;

// Creates the folder and its ancestors one by one; existing folders and drive
// roots make their creation fail, which is fine.
void CreateFolderChain(const char* path)
{
    char partial[MAX_PATH];
    size_t length = std::strlen(path);
    for (size_t i = 0; i < length && i < MAX_PATH - 1; ++i) {
        if (path[i] == '\\') {
            std::memcpy(partial, path, i + 1);
            partial[i + 1] = '\0';
            CreateDirectoryA(partial, nullptr);
        }
    }
    if (length > 0 && path[length - 1] != '\\') {
        CreateDirectoryA(path, nullptr);
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
    if (length == 0 || length >= MAX_PATH) {
        programData[0] = '\0';
    }
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof(folder), "%s%s", programData, kLogSubFolder);
    return folder;
}

std::shared_ptr<spdlog::logger> LogHelper::CurrentLogger()
{
    std::lock_guard<std::mutex> lock(m_loggerMutex);
    return m_logger;
}

void LogHelper::Init()
{
    LogHelper& self = GetInstance();
    std::string folder = LogFolder();
    CreateFolderChain(folder.c_str());

    SYSTEMTIME now;
    GetLocalTime(&now);
    char fileName[MAX_PATH];
    std::snprintf(fileName, sizeof(fileName), "varnick_dpr_service_log_%04d-%02d-%02d_%02d.%02d.%02d.log",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    char fullPath[MAX_PATH];
    std::snprintf(fullPath, sizeof(fullPath), "%s\\%s", folder.c_str(), fileName);

    std::shared_ptr<spdlog::logger> logger;
    try {
        spdlog::drop(kLoggerName);
        logger = spdlog::rotating_logger_mt<spdlog::async_factory>(kLoggerName, NativePath(fullPath), kMaxFileSize,
                                                                    kMaxRotatedFiles, false);
        // The service has no console: errors of the library (a call after
        // Shutdown, a full disk) stay silent.
        logger->set_error_handler([](const std::string&) {});
        logger->set_level(spdlog::level::trace);
        logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
            "%Y-%m-%d %H:%M:%S.%e %v", spdlog::pattern_time_type::local, "\r\n"));
        logger->flush_on(spdlog::level::trace);
        spdlog::flush_every(std::chrono::seconds(3));
    } catch (const std::exception&) {
        // The file cannot be opened: run without a log; every call stays harmless.
        logger.reset();
    }
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

void WriteLine(spdlog::logger& logger, int level, const char* function, const char* threadId, const char* message)
{
    switch (level) {
    case LOG_LEVEL_ERROR:
        logger.error("{} e :   {}", threadId, message);
        break;
    case LOG_LEVEL_INFO:
    case LOG_LEVEL_INFO_ALT:
        logger.info("{} i :   {}", threadId, message);
        break;
    case LOG_LEVEL_WARNING:
        logger.warn("{} w :   {}", threadId, message);
        break;
    case LOG_LEVEL_BARE:
        if (logger.should_log(spdlog::level::info)) {
            logger.info("{}", message);
        }
        break;
    case LOG_LEVEL_TRACE:
        logger.trace("{} h :   {}, {}", threadId, function ? function : "", message);
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
    std::vsnprintf(message, sizeof(message), format, args);
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
    logger->info("{} h : {} {}", threadId, sign, function ? function : "");
}

LogScope::LogScope(const char* function) : m_function(function)
{
    LogHelper::WriteScopeLine('+', m_function);
}

LogScope::~LogScope()
{
    LogHelper::WriteScopeLine('-', m_function);
}
