#include "logging/async_file_logger.h"

#include <spdlog/async.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <windows.h>

#include <chrono>

#include "portability/stack_guarantee.h"

namespace {

constexpr size_t kMaxFileSize = 1048576;
constexpr size_t kMaxRotatedFiles = 100;
constexpr std::chrono::seconds kFlushInterval{3};
constexpr size_t kQueueSize = 8192;

}  // namespace

std::shared_ptr<spdlog::logger> MakeAsyncFileLogger(const std::string& name, const std::string& nativePath)
{
    if (!spdlog::thread_pool()) {
        spdlog::init_thread_pool(kQueueSize, 1, KeepStackForOverflow);
    }
    auto logger =
        spdlog::rotating_logger_mt<spdlog::async_factory>(name, nativePath, kMaxFileSize, kMaxRotatedFiles, false);
    // The service has no console: errors of the library (a call after
    // Shutdown, a full disk) stay silent.
    logger->set_error_handler([](const std::string&) {});
    logger->set_level(spdlog::level::trace);
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>("%Y-%m-%d %H:%M:%S.%e %v",
                                                                      spdlog::pattern_time_type::local, "\r\n"));
    logger->flush_on(spdlog::level::trace);
    spdlog::flush_every(kFlushInterval);
    return logger;
}

bool AwaitWrittenOut(spdlog::logger& logger, unsigned boundMs, unsigned pollMs)
{
    const std::shared_ptr<spdlog::details::thread_pool> pool = spdlog::thread_pool();
    if (!pool) {
        return false;
    }
    // The one writer thread takes the queue in order: once the flush request
    // queued last has been taken, every line before it is in the file.
    logger.flush();
    // Each look comes after a poll's wait: a look at once would race with the
    // writer taking the request, and the wait's length would depend on who won.
    for (unsigned waited = 0; waited < boundMs;) {
        Sleep(pollMs);
        waited += pollMs;
        if (pool->queue_size() == 0) {
            return true;
        }
    }
    return false;
}
