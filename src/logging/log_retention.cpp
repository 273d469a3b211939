#include <windows.h>

#include <cstdint>
#include <future>
#include <set>
#include <string>

#include "logging/file_time.h"
#include "logging/log_helper.h"
#include "logging/path_format.h"
#include "portability/stack_guarantee.h"

namespace {

constexpr uint64_t kTotalSizeLimit = 104857600;  // 100 MiB
constexpr double kAgeLimitSeconds = 7776000;     // 90 days
constexpr const char* kFunction = "LogHelper::DeleteFileWhileExceedMaxSizeAndTime";

struct LogFileRecord {
    double age;
    uint64_t size;
    std::string name;
};

// Oldest first; equal ages: larger first; then the name that compares greater.
struct OlderFirst {
    bool operator()(const LogFileRecord& a, const LogFileRecord& b) const
    {
        if (a.age != b.age) {
            return a.age > b.age;
        }
        if (a.size != b.size) {
            return a.size > b.size;
        }
        return a.name > b.name;
    }
};

int64_t FileTimeToUnixSeconds(const FILETIME& time)
{
    return static_cast<int64_t>(FileTimeTicks(time) / kFileTimeTicksPerSecond) -
           static_cast<int64_t>(kFileTimeSecondsBeforeUnixEpoch);
}

int64_t NowUnixSeconds()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeToUnixSeconds(now);
}

}  // namespace

void LogHelper::RunLogRetention()
{
    auto pass = std::async(std::launch::async, [] {
        KeepStackForOverflow();
        DeleteFileWhileExceedMaxSizeAndTime(LogFolder().c_str());  // empty, it deletes nothing
        return 0;
    });
    pass.get();
}

void LogHelper::DeleteFileWhileExceedMaxSizeAndTime(const char* folder)
{
    LogScope scope(kFunction);
    char pattern[MAX_PATH];
    if (folder == nullptr || *folder == '\0' ||
        !FormatPath(pattern, "%s\\%s*%s", folder, "varnick_dpr_service_log_", ".log")) {
        // A cut pattern would match, and delete, other files.
        Log(LOG_LEVEL_INFO, kFunction, "no search pattern fits the log folder, nothing deleted");
        return;
    }
    const int64_t now = NowUnixSeconds();

    std::set<LogFileRecord, OlderFirst> records;
    uint64_t total = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            // A folder that happens to match is no log file: neither counted nor deleted.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                continue;
            }
            uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            total += size;
            double age = static_cast<double>(now - FileTimeToUnixSeconds(found.ftCreationTime));
            records.insert(LogFileRecord{age, size, found.cFileName});
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }

    for (const LogFileRecord& record : records) {
        if (total < kTotalSizeLimit && record.age < kAgeLimitSeconds) {
            break;
        }
        // A file that cannot be deleted (in use, or its path does not fit) still counts as removed.
        char path[MAX_PATH];
        if (FormatPath(path, "%s\\%s", folder, record.name.c_str())) {
            DeleteFileA(path);
        }
        Log(LOG_LEVEL_INFO, kFunction, "delete %s. item.size = %d", record.name.c_str(),
            static_cast<int>(static_cast<int32_t>(record.size)));
        total -= record.size;
    }
}
