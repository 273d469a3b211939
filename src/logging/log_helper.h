// The service's log: one asynchronous spdlog logger writing one file per start
// under %programdata%\Varnick Wireless Inc\DPR Service.
#pragma once

#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>

#include "portability/portability.h"

namespace spdlog {
class logger;
}
struct LogFolderTrust;

// Levels of LogHelper::Log.
enum LogLevel : int {
    LOG_LEVEL_ERROR = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_WARNING = 3,
    LOG_LEVEL_INFO_ALT = 4,
    LOG_LEVEL_BARE = 5,
    LOG_LEVEL_TRACE = 6,
};

class LogHelper {
public:
    static LogHelper& GetInstance();

    // Opens the run's log file, in a folder that is the service's own only,
    // and reads the "IsAll" switch. Never fails the process: without a file
    // every later call writes nothing.
    static void Init();
    // Drops the logger, stops the periodic flush and ends the writer thread.
    static void Shutdown();

    static void Log(int level, const char* function, const char* format, ...) HALVEX_PRINTF_FORMAT(3, 4);
    // Info line with CR and LF of the message shown as TAB.
    static void LogSingleLine(const char* function, const char* format, ...) HALVEX_PRINTF_FORMAT(2, 3);

    // One retention pass over the log folder on a thread of its own, awaited;
    // none while the folder is not the service's own.
    static void RunLogRetention();
    // Deletes nothing when the folder is empty or too long for its search pattern.
    static void DeleteFileWhileExceedMaxSizeAndTime(const char* folder);

    // The folder of the log files ("%s%s" of "programdata" and the service's
    // subfolder); empty when it does not fit in MAX_PATH.
    static std::string LogFolder();

    // Entry and exit lines of LogScope: straight to the logger.
    static void WriteScopeLine(char sign, const char* function);

    // Makes the calling thread the crash path's, whose faulted thread may hold
    // the log's locks: from now on its lines are dropped when a lock is not
    // free within a bound (and once one was not, all of them), and each line
    // it writes is awaited, bounded, until the writer thread has put it in
    // the file. Other threads log as before.
    static void EnterCrashMode();
    // Waits, bounded, until the writer thread has written out every line queued.
    static void FlushForCrash();

private:
    LogHelper() = default;
    // One line for each folder whose inherited DACL the trust check replaced.
    static void LogRepairs(const char* function, const LogFolderTrust& trust);
    // Null also when the crash path could not take the lock in time.
    std::shared_ptr<spdlog::logger> CurrentLogger();
    // Formats into 1024 bytes (CR and LF shown as TAB for single lines) and writes the line.
    void WriteFormatted(int level, const char* function, bool singleLine, const char* format, va_list args);

    std::mutex m_mutex;             // Log and LogSingleLine stamp and queue one line at a time
    std::mutex m_loggerMutex;       // guards m_logger itself
    std::shared_ptr<spdlog::logger> m_logger;
};

// Writes "h : + name" on construction and "h : - name" on destruction.
class LogScope {
public:
    explicit LogScope(const char* function);
    ~LogScope();
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;

private:
    const char* m_function;
};
