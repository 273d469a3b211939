// Choosing the configuration entry that fits the machine.
#pragma once

#include <string>
#include <vector>

#include "config/config_model.h"

namespace platform {

// True when the entry fits a machine of this system version and processor
// version: the project name equals the system version (ASCII case ignored),
// and an entry made for "Intel" or "AMD" (case ignored) needs its manufacturer
// text inside the processor version (case kept).
bool EntryFits(const ModuleConfig& entry, const std::string& systemVersion, const std::string& processorVersion);

// The first fitting entry of the list is copied into config (project name,
// method and settings; the manufacturer is left as it is). False, and config
// unchanged, when nothing fits.
bool MatchPlatform(const std::vector<ModuleConfig>& list, const std::string& systemVersion,
                   const std::string& processorVersion, ModuleConfig& config);

// Reads the SMBIOS table, logs the system and processor versions and matches
// them against ProjectConfigList. The version falls back to the family when it
// has fewer than 3 characters.
bool VerifyPlatform(ModuleConfig& config);

}  // namespace platform
