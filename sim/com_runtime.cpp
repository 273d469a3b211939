#include "sim/com_runtime.h"

namespace sim {

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kFalse = 1;
constexpr int32_t kClassNotRegistered = static_cast<int32_t>(0x80040154u);
constexpr int32_t kChangedMode = static_cast<int32_t>(0x80010106u);
constexpr uint32_t kApartmentThreaded = 0x2;

// The calling thread's apartment; valid only for the runtime generation it
// was entered in, so a machine reset leaves every thread outside COM.
struct ThreadApartment {
    uint64_t generation = 0;
    int count = 0;
    bool multithreaded = false;
};
thread_local ThreadApartment t_apartment;

}  // namespace

void ComRuntime::AddClass(const std::string& clsid, Factory factory)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_classes[clsid].factory = std::move(factory);
}

void ComRuntime::FailCreation(const std::string& clsid, int times, int32_t hr)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ClassEntry& entry = m_classes[clsid];
    entry.failTimes = times;
    entry.failHr = hr;
}

int ComRuntime::CreationAttempts(const std::string& clsid) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_classes.find(clsid);
    return it == m_classes.end() ? 0 : it->second.attempts;
}

int32_t ComRuntime::BeginCreate(const std::string& clsid, Factory& factory)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_classes.find(clsid);
    if (it == m_classes.end()) {
        return kClassNotRegistered;
    }
    ClassEntry& entry = it->second;
    ++entry.attempts;
    if (entry.failTimes != 0) {
        if (entry.failTimes > 0) {
            --entry.failTimes;
        }
        return entry.failHr;
    }
    if (!entry.factory) {
        return kClassNotRegistered;
    }
    factory = entry.factory;
    return kOk;
}

int32_t ComRuntime::InitializeThread(uint32_t coinit)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool multithreaded = (coinit & kApartmentThreaded) == 0;
    if (t_apartment.generation != m_generation) {
        t_apartment = ThreadApartment{m_generation, 0, false};
    }
    if (t_apartment.count > 0) {
        if (t_apartment.multithreaded != multithreaded) {
            return kChangedMode;
        }
        ++t_apartment.count;
        return kFalse;
    }
    t_apartment.count = 1;
    t_apartment.multithreaded = multithreaded;
    ++(multithreaded ? m_mtaUsers : m_staUsers);
    return kOk;
}

void ComRuntime::UninitializeThread()
{
    std::function<void()> teardown;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (t_apartment.generation != m_generation || t_apartment.count == 0) {
            ++m_unbalancedUninit;
            return;
        }
        if (--t_apartment.count > 0) {
            return;
        }
        --(t_apartment.multithreaded ? m_mtaUsers : m_staUsers);
        if (m_mtaUsers + m_staUsers == 0) {
            teardown = m_teardown;
        }
    }
    if (teardown) {
        teardown();
    }
}

void ComRuntime::SetTeardownHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_teardown = std::move(handler);
}

bool ComRuntime::CanCreateObjects() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool threadInside = t_apartment.generation == m_generation && t_apartment.count > 0;
    // A thread that never entered COM belongs to the process's multithreaded
    // apartment implicitly while that apartment exists.
    return threadInside || m_mtaUsers > 0;
}

int ComRuntime::ThreadInitCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return t_apartment.generation == m_generation ? t_apartment.count : 0;
}

int ComRuntime::MultithreadedApartmentUsers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mtaUsers;
}

int ComRuntime::UnbalancedUninitializeCalls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unbalancedUninit;
}

void ComRuntime::CountBstr(int delta)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_liveBstrs += delta;
}

void ComRuntime::CountSafeArray(int delta)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_liveSafeArrays += delta;
}

long ComRuntime::LiveBstrs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_liveBstrs;
}

long ComRuntime::LiveSafeArrays() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_liveSafeArrays;
}

void ComRuntime::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Installed classes stay; faults, counts and apartments start afresh.
    for (auto& entry : m_classes) {
        entry.second.failTimes = 0;
        entry.second.failHr = 0;
        entry.second.attempts = 0;
    }
    ++m_generation;
    m_mtaUsers = 0;
    m_staUsers = 0;
    m_unbalancedUninit = 0;
    m_liveBstrs = 0;
    m_liveSafeArrays = 0;
}

}  // namespace sim
