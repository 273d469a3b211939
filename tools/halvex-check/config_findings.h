// halvex-check config: DPRConfig.xml read by the service's own reader, and
// every way the file can surprise its author, each with its line and what the
// service will do.
#pragma once

#include <string>
#include <vector>

#include "config/config_model.h"

namespace halvex_check {

struct Finding {
    int line = 0;
    std::string kind;    // a stable name: "unknown-method", "skipped-row", ...
    std::string text;    // what the file says
    std::string effect;  // what the service does with it
};

struct ConfigCheck {
    bool readable = false;
    std::string error;  // when not readable: why, with the line for XML errors
    std::vector<ModuleConfig> entries;  // the service's list, in file order
    std::vector<Finding> findings;      // in line order
};

// Checks the file's bytes.
ConfigCheck CheckConfigText(const std::string& bytes);
// Reads the file (a regular file only) and checks it.
ConfigCheck CheckConfigFile(const std::string& path);

}  // namespace halvex_check
