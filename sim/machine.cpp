#include "sim/machine.h"

#include <cstdlib>

namespace sim {

Machine& Machine::Get()
{
    // Leaked on purpose: service threads may still call into the machine while
    // the process exits. Only the temporary folder is removed at exit.
    static Machine* machine = [] {
        auto* created = new Machine();
        std::atexit([] { Machine::Get().fileSystem().Remove(); });
        return created;
    }();
    return *machine;
}

Machine::Machine()
{
    m_mbn.SetNetworkHook([this](bool present) { m_network.OnModemPresence(present); });
    Reset();
}

void Machine::Reset()
{
    m_registry.Clear();
    m_environment.Clear();
    m_environment.Set("programdata", kDefaultProgramData);
    m_environment.Set("SystemRoot", "C:\\Windows");
    m_fileSystem.Recreate();
    m_clock.Reset();
    m_mbn.Reset();
    m_com.Reset();
    m_firmware.Reset();
    m_network.Reset();
    m_power.Reset();
    m_threads.Reset();
    m_services.Reset();
    m_serviceDatabase.Reset();
    m_shell.Reset();
    m_crash.Reset();
    SetExecutablePath(kDefaultExecutablePath);
}

void Machine::SetExecutablePath(const std::string& windowsPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_executablePath = windowsPath;
}

std::string Machine::ExecutablePath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_executablePath;
}

}  // namespace sim
