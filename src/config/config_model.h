// The configuration model built from DPRConfig.xml: one flat list with an entry
// per module element, in document order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One dpr element: a SAR setting for a radio mode (and band).
struct DprSetting {
    std::string mode;
    int32_t band = -1;
    int32_t maxpower = -1;
    int32_t rowgrads = -1;
    int32_t columngrads = -1;
    int line = 0;  // of the dpr element in the file
};

// One module element with what it inherits from its project and processor.
struct ModuleConfig {
    std::string projectName;
    std::string method;
    std::string manufacturer;
    std::vector<DprSetting> dprs;
    int processorLine = 0;  // of the processor element in the file
    int line = 0;           // of the module element
};

// The process-wide list, filled once at start by XMLHelper::ParseXMLContent and
// only read afterwards. Created on first use and never destroyed, so threads
// still running while the process exits can read it safely.
std::vector<ModuleConfig>& ProjectConfigList();
