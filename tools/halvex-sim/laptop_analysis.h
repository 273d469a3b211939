// What the service makes of the laptop, worked out for the report with the
// service's own configuration reader and platform matching, on a scratch
// laptop that holds only the configuration file and the SMBIOS table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_model.h"
#include "platform/smbios_reader.h"
#include "scenario.h"

namespace halvex_sim {

struct LaptopAnalysis {
    bool hasSmbios = false;
    SmbiosInfo identity;
    bool entryFound = false;
    ModuleConfig entry;
    std::string whyNone;
};

// Call only after the last service process: it uses this process's sim::Machine.
LaptopAnalysis AnalyseLaptop(const Scenario& scenario, const std::vector<uint8_t>& smbiosTable);

}  // namespace halvex_sim
