// What the service makes of the laptop, worked out for the report with the
// service's own configuration reader and platform matching (through
// halvex-check): the entry it chooses and why, and the file's findings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_model.h"
#include "config_findings.h"
#include "platform/smbios_reader.h"
#include "scenario.h"

namespace halvex_sim {

struct LaptopAnalysis {
    bool hasSmbios = false;
    SmbiosInfo identity;
    bool entryFound = false;
    ModuleConfig entry;
    std::string entryText;                        // the entry as halvex-check describes it
    std::string why;                              // why this entry, or why none fits
    std::vector<std::string> nearMisses;          // when none fits
    std::vector<halvex_check::Finding> findings;  // of the scenario's DPRConfig.xml
};

LaptopAnalysis AnalyseLaptop(const Scenario& scenario, const std::vector<uint8_t>& smbiosTable);

}  // namespace halvex_sim
