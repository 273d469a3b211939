// The simulated laptop: one process-wide, resettable object standing for the
// Windows machine the service runs on. The Linux build's Win32 calls (winapi/)
// read and change it; tests and halvex-sim set it up and inspect it.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/com_runtime.h"
#include "sim/crash.h"
#include "sim/mbn_sim.h"
#include "sim/firmware.h"
#include "sim/file_system.h"
#include "sim/network.h"
#include "sim/power.h"
#include "sim/service_control.h"
#include "sim/service_database.h"
#include "sim/shell.h"
#include "sim/threads.h"

namespace sim {

// Case-insensitive ordering of ASCII texts, as Windows compares names.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
std::string ToLowerAscii(std::string text);
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// A registry value as stored: its type and its raw data bytes. Strings are kept
// as wide text and handed out as the calling API expects.
struct RegistryValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;      // raw bytes for non-string types
    std::wstring text;              // REG_SZ / REG_EXPAND_SZ
    bool isString = false;
};

// Registry of HKEY_LOCAL_MACHINE. Key paths are written like
// "SOFTWARE\\Varnick Wireless Inc\\Logs" and compared without regard to case.
class Registry {
public:
    void CreateKey(const std::string& path);
    void DeleteKey(const std::string& path);  // with its subkeys
    bool KeyExists(const std::string& path) const;
    void SetDword(const std::string& path, const std::string& name, uint32_t value);
    void SetString(const std::string& path, const std::string& name, const std::string& value);
    void SetRaw(const std::string& path, const std::string& name, uint32_t type, std::vector<uint8_t> data);
    void DeleteValue(const std::string& path, const std::string& name);
    std::optional<RegistryValue> Query(const std::string& path, const std::string& name) const;
    std::vector<std::string> Subkeys(const std::string& path) const;  // direct children, sorted
    // Opening the key itself is refused with ERROR_ACCESS_DENIED, as a key whose
    // security denies the caller is; its parent still lists it.
    void DenyAccess(const std::string& path);
    bool AccessDenied(const std::string& path) const;
    void Clear();

private:
    struct Key {
        std::map<std::string, RegistryValue, NoCaseLess> values;
    };
    mutable std::mutex m_mutex;
    std::map<std::string, Key, NoCaseLess> m_keys;
    std::set<std::string, NoCaseLess> m_denied;
};

// Environment variables with case-insensitive names.
class Environment {
public:
    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);
    std::optional<std::string> Get(const std::string& name) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string, NoCaseLess> m_vars;
};

class Machine {
public:
    // The process-wide machine, created on first use and never destroyed
    // (threads of the service may still reach it while the process exits).
    static Machine& Get();

    // Back to a fresh laptop: empty registry, default environment, a new empty
    // file-system root, the default executable path, the real clock, no service
    // started.
    void Reset();

    Registry& registry() { return m_registry; }
    Environment& environment() { return m_environment; }
    FileSystem& fileSystem() { return m_fileSystem; }
    Clock& clock() { return m_clock; }
    ComRuntime& com() { return m_com; }
    MobileBroadband& mbn() { return m_mbn; }
    Firmware& firmware() { return m_firmware; }
    Network& network() { return m_network; }
    Power& power() { return m_power; }
    Threads& threads() { return m_threads; }
    ServiceControl& services() { return m_services; }
    ServiceDatabase& serviceDatabase() { return m_serviceDatabase; }
    Shell& shell() { return m_shell; }
    Crash& crash() { return m_crash; }

    void SetExecutablePath(const std::string& windowsPath);
    std::string ExecutablePath() const;

    static constexpr const char* kDefaultExecutablePath =
        "C:\\Program Files\\Varnick Wireless Inc\\Halvex Service\\HalvexService.exe";
    static constexpr const char* kDefaultProgramData = "C:\\ProgramData";

private:
    Machine();
    Registry m_registry;
    Environment m_environment;
    FileSystem m_fileSystem;
    Clock m_clock;
    ComRuntime m_com;
    MobileBroadband m_mbn{m_com, m_clock};
    Firmware m_firmware;
    Network m_network{m_registry, m_mbn};
    Power m_power;
    Threads m_threads;
    ServiceControl m_services{m_clock};
    ServiceDatabase m_serviceDatabase;
    Shell m_shell{m_fileSystem};
    Crash m_crash;
    mutable std::mutex m_mutex;
    std::string m_executablePath;
};

}  // namespace sim
