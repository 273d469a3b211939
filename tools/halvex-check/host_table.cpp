#include "host_table.h"

#include <windows.h>

#include "platform/smbios_reader.h"

#ifndef _WIN32
#include <unistd.h>

#include "sim/machine.h"
#endif

namespace halvex_check {

std::optional<std::vector<uint8_t>> HostSmbiosTable()
{
#ifndef _WIN32
    // The Linux build's GetSystemFirmwareTable answers from the simulated
    // laptop: give it this machine's table first.
    if (!sim::Machine::Get().firmware().LoadHostTable()) {
        return std::nullopt;
    }
#endif
    return ReadSmbiosTable();
}

std::string ProgramFolder()
{
#ifdef _WIN32
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string program(path, length < MAX_PATH ? length : 0);
    return program.substr(0, program.find_last_of("\\/") + 1);
#else
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    const std::string program(path, length > 0 ? static_cast<size_t>(length) : 0);
    return program.substr(0, program.rfind('/') + 1);
#endif
}

}  // namespace halvex_check
