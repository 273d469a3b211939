// The simulated laptop's service database, as the restart path sees it: the
// installed services by name (compared without regard to case, as the service
// control manager does), the process id a status query reports for each, the
// handles opened on the database and its services, and injected failures.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace sim {

class ServiceDatabase {
public:
    enum class Call { OpenManager, OpenService, QueryStatus };

    struct Status {
        uint32_t state = 0;      // SERVICE_STOPPED (1) or SERVICE_RUNNING (4)
        uint32_t processId = 0;  // 0 while stopped
    };

    // The name under which the maker's installer registers the service; a
    // fresh laptop has it installed, stopped.
    static constexpr const char* kServiceName = "Varnick Halvex Service";

    void Install(const std::string& name);
    void Uninstall(const std::string& name);
    bool IsInstalled(const std::string& name) const;
    // The process id that status queries report: running with it, or stopped for 0.
    void SetProcessId(const std::string& name, uint32_t processId);
    // Every later `call` fails with the last-error code `error` (0: succeeds again).
    void Fail(Call call, uint32_t error);
    // Handles opened and not yet closed, of the database and of its services.
    size_t OpenHandles() const;
    void Reset();

    // For the Win32 calls: a handle (never 0), or 0 with `error` set.
    uintptr_t OpenManager(uint32_t& error);
    uintptr_t OpenService(uintptr_t manager, const std::string& name, uint32_t access, uint32_t& error);
    bool QueryStatus(uintptr_t service, Status& status, uint32_t& error);
    bool Close(uintptr_t handle);

private:
    struct Handle {
        bool isManager = false;
        std::string service;  // key of the service opened
        uint32_t access = 0;
    };
    bool Failing(Call call, uint32_t& error) const;

    mutable std::mutex m_mutex;
    std::map<std::string, uint32_t> m_services;  // lower-case name -> process id
    std::map<uintptr_t, Handle> m_handles;
    std::map<Call, uint32_t> m_failures;
    uintptr_t m_nextHandle = 0;
};

}  // namespace sim
