#include "logging/async_file_logger.h"

#include <spdlog/async.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>

namespace {

constexpr size_t kMaxFileSize = 1048576;
constexpr size_t kMaxRotatedFiles = 100;
constexpr std::chrono::seconds kFlushInterval{3};

}  // namespace

std::shared_ptr<spdlog::logger> MakeAsyncFileLogger(const std::string& name, const std::string& nativePath)
{
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
