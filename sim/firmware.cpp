#include "sim/firmware.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace sim {

namespace {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

void Firmware::SetSmbiosTable(std::vector<uint8_t> table)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_smbios = std::move(table);
}

void Firmware::RemoveSmbiosTable()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_smbios.reset();
}

std::optional<std::vector<uint8_t>> Firmware::SmbiosTable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_smbios;
}

void Firmware::ReplaceTableAfterSizeQuery(std::vector<uint8_t> table)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replacement = std::move(table);
}

bool Firmware::LoadHostTable(const std::string& folder)
{
    std::vector<uint8_t> entryPoint;
    std::vector<uint8_t> structures;
    if (!ReadWholeFile(folder + "/smbios_entry_point", entryPoint) || !ReadWholeFile(folder + "/DMI", structures)) {
        return false;
    }
    uint8_t major = 0;
    uint8_t minor = 0;
    auto startsWith = [&](const char* anchor, size_t length) {
        return entryPoint.size() >= length && std::equal(anchor, anchor + length, entryPoint.begin());
    };
    if (startsWith("_SM3_", 5) && entryPoint.size() >= 11) {
        major = entryPoint[7];
        minor = entryPoint[8];
    } else if (startsWith("_SM_", 4) && entryPoint.size() >= 8) {
        major = entryPoint[6];
        minor = entryPoint[7];
    } else {
        return false;
    }
    std::vector<uint8_t> table = {0, major, minor, 0};
    uint32_t length = static_cast<uint32_t>(structures.size());
    for (int shift = 0; shift < 32; shift += 8) {
        table.push_back(static_cast<uint8_t>(length >> shift));
    }
    table.insert(table.end(), structures.begin(), structures.end());
    SetSmbiosTable(std::move(table));
    return true;
}

bool Firmware::ReadTable(uint32_t provider, uint32_t tableId, std::vector<uint8_t>& table, bool sizeQuery)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (provider != kProviderRsmb || tableId != 0 || !m_smbios) {
        return false;
    }
    table = *m_smbios;
    if (sizeQuery && m_replacement) {
        m_smbios = std::move(m_replacement);
        m_replacement.reset();
    }
    return true;
}

void Firmware::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_smbios.reset();
    m_replacement.reset();
}

}  // namespace sim
