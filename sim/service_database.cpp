#include "sim/service_database.h"

#include "sim/machine.h"

namespace sim {

namespace {

constexpr uint32_t kStopped = 1;
constexpr uint32_t kRunning = 4;
constexpr uint32_t kQueryStatusAccess = 0x0004;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
// Handles are numbered from here, four apart, so that a value handed out by
// another part of the laptop is not mistaken for one of the database's.
constexpr uintptr_t kFirstHandle = 0x5C0000;

}  // namespace

void ServiceDatabase::Install(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_services.emplace(ToLowerAscii(name), 0);
}

void ServiceDatabase::Uninstall(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_services.erase(ToLowerAscii(name));
}

bool ServiceDatabase::IsInstalled(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_services.count(ToLowerAscii(name)) == 1;
}

void ServiceDatabase::SetProcessId(const std::string& name, uint32_t processId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_services[ToLowerAscii(name)] = processId;
}

void ServiceDatabase::Fail(Call call, uint32_t error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures[call] = error;
}

size_t ServiceDatabase::OpenHandles() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.size();
}

void ServiceDatabase::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_services = {{ToLowerAscii(kServiceName), 0}};
    m_handles.clear();
    m_failures.clear();
    m_nextHandle = kFirstHandle;
}

bool ServiceDatabase::Failing(Call call, uint32_t& error) const
{
    auto failure = m_failures.find(call);
    if (failure == m_failures.end() || failure->second == 0) {
        return false;
    }
    error = failure->second;
    return true;
}

uintptr_t ServiceDatabase::OpenManager(uint32_t& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (Failing(Call::OpenManager, error)) {
        return 0;
    }
    m_nextHandle += 4;
    m_handles[m_nextHandle] = Handle{true, std::string(), 0};
    return m_nextHandle;
}

uintptr_t ServiceDatabase::OpenService(uintptr_t manager, const std::string& name, uint32_t access,
                                       uint32_t& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto opened = m_handles.find(manager);
    if (opened == m_handles.end() || !opened->second.isManager) {
        error = kErrorInvalidHandle;
        return 0;
    }
    if (Failing(Call::OpenService, error)) {
        return 0;
    }
    const std::string key = ToLowerAscii(name);
    if (m_services.count(key) == 0) {
        error = kErrorServiceDoesNotExist;
        return 0;
    }
    m_nextHandle += 4;
    m_handles[m_nextHandle] = Handle{false, key, access};
    return m_nextHandle;
}

bool ServiceDatabase::QueryStatus(uintptr_t service, Status& status, uint32_t& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto opened = m_handles.find(service);
    if (opened == m_handles.end() || opened->second.isManager) {
        error = kErrorInvalidHandle;
        return false;
    }
    if ((opened->second.access & kQueryStatusAccess) == 0) {
        error = kErrorAccessDenied;
        return false;
    }
    if (Failing(Call::QueryStatus, error)) {
        return false;
    }
    // A service uninstalled while a handle is open still answers, as it stays
    // marked for deletion until its last handle is closed.
    auto installed = m_services.find(opened->second.service);
    status.processId = installed == m_services.end() ? 0 : installed->second;
    status.state = status.processId == 0 ? kStopped : kRunning;
    return true;
}

bool ServiceDatabase::Close(uintptr_t handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.erase(handle) == 1;
}

}  // namespace sim
