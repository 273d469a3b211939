// Choosing the configuration entry that fits the machine.
#pragma once

#include <string>
#include <vector>

#include "config/config_model.h"
#include "platform/smbios_reader.h"

namespace platform {

// The text project names are compared with: the SMBIOS system version, or the
// family when the version has fewer than 3 characters.
std::string SystemVersionOf(const SmbiosInfo& smbios);
bool FamilyStandsForVersion(const SmbiosInfo& smbios);

// The project name equals the system version, ASCII case ignored.
bool ProjectFits(const ModuleConfig& entry, const std::string& systemVersion);
// An entry made for "Intel" or "AMD" (case ignored) needs its manufacturer
// text inside the processor version (case kept); any other fits every processor.
bool VendorBound(const ModuleConfig& entry);
bool ProcessorFits(const ModuleConfig& entry, const std::string& processorVersion);

// Both of the above.
bool EntryFits(const ModuleConfig& entry, const std::string& systemVersion, const std::string& processorVersion);

// The index of the first fitting entry of the list; -1 when none fits.
int FirstFittingEntry(const std::vector<ModuleConfig>& list, const std::string& systemVersion,
                      const std::string& processorVersion);

// The first fitting entry of the list is copied into config (project name,
// method and settings; the manufacturer is left as it is). False, and config
// unchanged, when nothing fits.
bool MatchPlatform(const std::vector<ModuleConfig>& list, const std::string& systemVersion,
                   const std::string& processorVersion, ModuleConfig& config);

// Reads the SMBIOS table, logs the system and processor versions and matches
// them against ProjectConfigList.
bool VerifyPlatform(ModuleConfig& config);

}  // namespace platform
