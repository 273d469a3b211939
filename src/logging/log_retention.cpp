#include <windows.h>

#include <cstdint>
#include <future>
#include <set>
#include <string>

#include "logging/file_time.h"
#include "logging/log_folder_trust.h"
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
    uint64_t created;  // file-time ticks: tells the listed file from one put in its place
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

enum class Removal { Deleted, NotDeleted, NotTheListedFile };

// Deletes the listed file through a handle opened on the name itself: a link
// found there, a file with another name elsewhere or one put in place of the
// listed file is left alone.
Removal DeleteListedFile(const char* path, const LogFileRecord& record)
{
    HANDLE file = OpenWithoutFollowing(path, DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return Removal::NotDeleted;  // in use, or gone
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool listed = GetFileInformationByHandle(file, &info) && IsPlainFile(info) &&
                        FileTimeTicks(info.ftCreationTime) == record.created;
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool deleted =
        listed && SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
    CloseHandle(file);
    return !listed ? Removal::NotTheListedFile : deleted ? Removal::Deleted : Removal::NotDeleted;
}

}  // namespace

void LogHelper::RunLogRetention()
{
    auto pass = std::async(std::launch::async, [] {
        KeepStackForOverflow();
        const std::string folder = LogFolder();
        if (!folder.empty()) {  // empty, the pass deletes nothing
            const LogFolderTrust trust = TrustLogFolder(folder, false);
            LogRepairs(kFunction, trust);
            if (!trust.trusted) {
                Log(LOG_LEVEL_INFO, kFunction, "log folder not used, no retention pass: %s", trust.refusal.c_str());
                return 0;
            }
        }
        DeleteFileWhileExceedMaxSizeAndTime(folder.c_str());
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
            // A folder or link that happens to match is no log file: neither counted nor deleted.
            if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
                continue;
            }
            uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            total += size;
            double age = static_cast<double>(now - FileTimeToUnixSeconds(found.ftCreationTime));
            records.insert(LogFileRecord{age, size, found.cFileName, FileTimeTicks(found.ftCreationTime)});
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }

    for (const LogFileRecord& record : records) {
        if (total < kTotalSizeLimit && record.age < kAgeLimitSeconds) {
            break;
        }
        // A file that cannot be deleted (in use, a link, or its path does not fit) still counts as removed.
        char path[MAX_PATH];
        if (FormatPath(path, "%s\\%s", folder, record.name.c_str()) &&
            DeleteListedFile(path, record) == Removal::NotTheListedFile) {
            Log(LOG_LEVEL_INFO, kFunction, "%s is a link or not the file listed, not deleted", record.name.c_str());
        } else {
            Log(LOG_LEVEL_INFO, kFunction, "delete %s. item.size = %d", record.name.c_str(),
                static_cast<int>(static_cast<int32_t>(record.size)));
        }
        total -= record.size;
    }
}
