// Reading the system and processor information out of the SMBIOS table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Texts of the SMBIOS table; empty when not found.
struct SmbiosInfo {
    std::string family;
    std::string manufacturer;
    std::string productName;
    std::string serialNumber;
    std::string skuNumber;
    std::string uuid;
    std::string version;
    std::string processorVersion;
};

// Reads the raw table through GetSystemFirmwareTable ('RSMB', table 0) and
// returns what it finds; every field empty when there is no table.
SmbiosInfo SmbiosReader();

// The raw table as GetSystemFirmwareTable hands it over; empty when there is
// none or the second read does not give the size the first one announced.
std::vector<uint8_t> ReadSmbiosTable();

// The same reading over a raw table held in memory (header and structures).
// Never reads outside [table, table + size), whatever the bytes say.
SmbiosInfo ParseSmbiosTable(const uint8_t* table, size_t size);
