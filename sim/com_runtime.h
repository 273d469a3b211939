// The COM library of the simulated laptop: the classes CoCreateInstance can
// create, per-class creation faults, the apartments of the threads, and counts
// of live BSTRs and SAFEARRAYs so tests can see that everything was freed.
// When the last thread of the process leaves COM, the teardown handler runs:
// objects handed out before are disconnected, as proxies are on Windows.
//
// Class ids are handled as text in the registry's form, upper case with braces
// ("{BDFEE05B-4418-11DD-90ED-001C257CCFF1}").
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

struct IUnknown;

namespace sim {

class ComRuntime {
public:
    // Makes a new object holding one reference, or nullptr when out of memory.
    using Factory = std::function<IUnknown*()>;

    void AddClass(const std::string& clsid, Factory factory);

    // The next `times` creations of the class fail with `hr` (times < 0: every one).
    void FailCreation(const std::string& clsid, int times, int32_t hr);
    // CoCreateInstance calls that reached the class (failed ones included).
    int CreationAttempts(const std::string& clsid) const;

    // Used by CoCreateInstance: S_OK and the factory, or the failure to report.
    int32_t BeginCreate(const std::string& clsid, Factory& factory);

    // Apartments. The calling thread's state lives in a thread-local record
    // that a Reset invalidates.
    int32_t InitializeThread(uint32_t coinit);
    void UninitializeThread();
    // Called (outside the runtime's lock) when the last thread leaves COM;
    // kept across resets, like the classes.
    void SetTeardownHandler(std::function<void()> handler);
    bool CanCreateObjects() const;             // thread initialised, or an MTA exists
    int ThreadInitCount() const;               // of the calling thread
    int MultithreadedApartmentUsers() const;   // threads inside the MTA
    int UnbalancedUninitializeCalls() const;   // CoUninitialize without CoInitializeEx

    void CountBstr(int delta);
    void CountSafeArray(int delta);
    long LiveBstrs() const;
    long LiveSafeArrays() const;

    void Reset();

private:
    struct ClassEntry {
        Factory factory;
        int failTimes = 0;
        int32_t failHr = 0;
        int attempts = 0;
    };
    mutable std::mutex m_mutex;
    std::map<std::string, ClassEntry> m_classes;
    uint64_t m_generation = 1;
    int m_mtaUsers = 0;
    int m_staUsers = 0;
    std::function<void()> m_teardown;
    int m_unbalancedUninit = 0;
    long m_liveBstrs = 0;
    long m_liveSafeArrays = 0;
};

}  // namespace sim
