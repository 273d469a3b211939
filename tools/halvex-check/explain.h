// halvex-check explain: the laptop's identity and the entry the service would
// choose for it, with the reason, or why none fits and which entries came close.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_model.h"
#include "platform/smbios_reader.h"

namespace halvex_check {

struct NearMiss {
    size_t entry = 0;  // index into the entries
    std::string why;
};

struct Explanation {
    bool hasTable = false;
    SmbiosInfo identity;
    std::string comparedText;  // what project names are compared with
    bool fromFamily = false;   // the family stood in for a version shorter than 3 characters
    int chosen = -1;           // index into the entries; -1: none fits
    std::string why;           // why the chosen entry fits, or why none does
    std::vector<NearMiss> nearMisses;
};

// A raw table as GetSystemFirmwareTable hands it over (its 8-byte header
// first) or a bare structure table as Linux exposes it; empty: no table.
Explanation Explain(const std::vector<ModuleConfig>& entries, const std::vector<uint8_t>& table);

// The bare structure table given the header GetSystemFirmwareTable puts before it;
// a table that already has one is returned as it is.
std::vector<uint8_t> WithFirmwareHeader(const std::vector<uint8_t>& table);

}  // namespace halvex_check
