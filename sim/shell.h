// The simulated laptop's shell: the programs started through ShellExecuteExW.
// Nothing is run; each launch is recorded with what the caller asked for.
//
// The records are kept in a file under the machine's root folder, outside
// every drive, so that a process that forked before the launch (a death
// test's parent) sees what a crashed child asked the shell for.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class FileSystem;

class Shell {
public:
    struct Launch {
        std::string verb;
        std::string file;
        std::string parameters;
        std::string directory;
        int show = 0;
        uint32_t mask = 0;
        uint64_t elapsedMs = 0;  // simulated time of the launch
    };

    explicit Shell(FileSystem& files) : m_files(files) {}

    // Records the launch; false with `error` set while launches are made to fail.
    bool Start(const Launch& launch, uint32_t& error);
    // Every later launch fails with the last-error code `error` (0: succeeds again).
    void FailLaunches(uint32_t error);
    // The launches recorded since the file-system root was made, in order.
    std::vector<Launch> Launches() const;
    void Reset();

private:
    std::string RecordPath() const;

    FileSystem& m_files;
    mutable std::mutex m_mutex;
    uint32_t m_failure = 0;
};

}  // namespace sim
