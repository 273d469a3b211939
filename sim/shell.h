// The simulated laptop's shell: the programs started through ShellExecuteExW.
// Each launch is recorded with what the caller asked for; what it does on the
// laptop is read from the record by `Shell::Effects`, as cmd.exe would run it.
//
// The records are kept in a file under the machine's root folder, outside
// every drive, so that a process that forked before the launch (a death
// test's parent) sees what a crashed child asked the shell for.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class FileSystem;
class ServiceDatabase;

// The commands of a cmd.exe parameter line: after the /C switch, split at `&`
// outside double quotes; each command split into its arguments at blanks, with
// double quotes grouping (and removed) and `^` taking the next character as it
// is. Redirections (`>nul`, `2>&1`, `<file`) are dropped. No value, with
// `problem` set, when the line does not start with /C or uses an operator this
// reading does not run (`&&`, `||`, `|`, parentheses).
std::optional<std::vector<std::vector<std::string>>> CmdCommands(const std::string& parameters,
                                                                 std::string& problem);

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

    // One thing a launch did on the laptop, or one it refused.
    struct Effect {
        enum class Kind { Kill, Wait, Start, Refused };
        Kind kind = Kind::Refused;
        uint32_t processId = 0;  // Kill
        uint32_t ms = 0;         // Wait
        std::string text;        // Start: the service's name; Refused: what and why
    };

    // What the launch does, in order, when the service's process (if it runs)
    // has the id `serviceProcessId` and `services` says what is installed.
    // Only cmd.exe /C runs, and of its commands only `taskkill /pid N /f` of
    // the service's process, `net start "NAME"` of an installed service and
    // `ping -n N 127.0.0.1`; everything else is refused with its reason.
    static std::vector<Effect> Effects(const Launch& launch, uint32_t serviceProcessId,
                                       const ServiceDatabase& services);
    static bool Kills(const std::vector<Effect>& effects, uint32_t processId);
    static bool StartsService(const std::vector<Effect>& effects);
    static uint32_t WaitMs(const std::vector<Effect>& effects);
    // The effects as one line for a report: "ended process 42; waited 1 ms; ...".
    static std::string Describe(const std::vector<Effect>& effects);

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
