// The simulated laptop's firmware: the raw SMBIOS table as the firmware table
// interface delivers it (provider 'RSMB', table 0). Absent by default.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class Firmware {
public:
    static constexpr uint32_t kProviderRsmb = 0x52534D42u;  // 'RSMB'

    // The raw table: 8 header bytes (calling method, major, minor, DMI
    // revision, 32-bit table length) and the structure table.
    void SetSmbiosTable(std::vector<uint8_t> table);
    void RemoveSmbiosTable();
    std::optional<std::vector<uint8_t>> SmbiosTable() const;

    // Fault: after the next read that copies nothing (a size query), the table
    // is replaced by this one, as if the firmware changed between two calls.
    void ReplaceTableAfterSizeQuery(std::vector<uint8_t> table);

    // Loads the host's own table from the folder Linux exposes it in
    // (smbios_entry_point and DMI). False, and nothing changed, when the files
    // cannot be read or the entry point is not recognised.
    bool LoadHostTable(const std::string& folder = "/sys/firmware/dmi/tables");

    // What GetSystemFirmwareTable sees: the table for the provider and id, or
    // false when there is none. sizeQuery tells whether the caller copies nothing.
    bool ReadTable(uint32_t provider, uint32_t tableId, std::vector<uint8_t>& table, bool sizeQuery);

    void Reset();

private:
    mutable std::mutex m_mutex;
    std::optional<std::vector<uint8_t>> m_smbios;
    std::optional<std::vector<uint8_t>> m_replacement;
};

}  // namespace sim
