// The construction of the service's asynchronous file logger: sink, queue,
// overflow policy, pattern and flush policy in one place.
#pragma once

#include <memory>
#include <string>

namespace spdlog {
class logger;
}

// An asynchronous logger named `name` over a rotating file sink at `nativePath`
// (1 MiB per file, 100 rotated files, appended to), on the library's global
// thread pool (8192 lines, one writer; a full queue blocks the caller), pattern
// "%Y-%m-%d %H:%M:%S.%e %v" in local time with CR LF line ends, every line
// flushed as it is written and every logger flushed every 3 seconds. Its level
// is trace and the library's errors stay silent. Throws what the library throws
// when the file cannot be opened.
std::shared_ptr<spdlog::logger> MakeAsyncFileLogger(const std::string& name, const std::string& nativePath);

// Waits until the logger's writer thread has written out every line queued
// before the call, polling every `pollMs` for at most `boundMs` (simulated
// time on the simulated laptop); false when the bound passed first or the
// logger has no writer thread any more.
bool AwaitWrittenOut(spdlog::logger& logger, unsigned boundMs, unsigned pollMs);
