// The simulated laptop's crash support: the GUIDs that name crash dumps, and
// the dump file itself, written in the minidump format with the exception
// stream only (header, one stream directory entry, the exception record).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// The exception a dump records, as the dump's exception stream holds it.
struct DumpedException {
    uint32_t threadId = 0;
    uint32_t code = 0;
    uint32_t flags = 0;
    uint64_t address = 0;
    std::vector<uint64_t> parameters;  // at most 15
};

class Crash {
public:
    // A fresh random GUID (version 4, as Windows makes them) in its 16 bytes
    // of memory, or false with the HRESULT set by FailGuids.
    bool NewGuid(uint8_t (&bytes)[16], int32_t& hr);
    // Every later GUID fails with `hr` (0: GUIDs are made again).
    void FailGuids(int32_t hr);
    // Every later GUID is this one instead of a random one.
    void RepeatGuid(const uint8_t (&bytes)[16]);
    // The next call of the named platform function (only those that take
    // part: GetSystemTimeAsFileTime) makes a bad memory access on the calling
    // thread, as a fault at that point would.
    void FaultInNextCall(const std::string& function);
    // Called by those functions: true once for the armed function.
    bool TakeFault(const char* function);
    void Reset();

    // False (errno set) when the file descriptor cannot be written.
    static bool WriteMiniDump(int fd, const DumpedException& exception);
    // The exception stream of a dump written by WriteMiniDump; false when the
    // file is not such a dump.
    static bool ReadMiniDump(const std::string& hostPath, DumpedException& exception);

private:
    std::mutex m_mutex;
    int32_t m_guidFailure = 0;
    bool m_repeat = false;
    uint8_t m_repeated[16] = {};
    std::string m_faultingCall;
};

// Gives the calling thread a stack of its own for the fatal-signal handler,
// with an inaccessible page below it, kept until the thread ends: a stack
// overflow on any thread then still reaches the handler. A thread that has
// such a stack already (the sanitizers give each thread theirs) keeps it.
void UseSignalStack();
// The signal stack of the calling thread is one that UseSignalStack made, so
// running past its lower end faults.
bool OnGuardedSignalStack(const void* stackBase);

// Ends this process at once with `status`, as FatalAppExit and a forced
// taskkill do on Windows: no exit handlers run, nor any sanitizer's exit work
// (the thread sanitizer sleeps a second there), during which the process's
// other threads would run on and simulated time could move.
[[noreturn]] void EndProcessAtOnce(int status);

}  // namespace sim
