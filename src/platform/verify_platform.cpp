#include "platform/verify_platform.h"

#include "logging/log_helper.h"
#include "platform/smbios_reader.h"

namespace platform {

namespace {

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool FamilyStandsForVersion(const SmbiosInfo& smbios)
{
    return smbios.version.size() < 3;
}

std::string SystemVersionOf(const SmbiosInfo& smbios)
{
    return FamilyStandsForVersion(smbios) ? smbios.family : smbios.version;
}

bool ProjectFits(const ModuleConfig& entry, const std::string& systemVersion)
{
    return EqualsNoCase(entry.projectName, systemVersion);
}

bool VendorBound(const ModuleConfig& entry)
{
    return EqualsNoCase(entry.manufacturer, "Intel") || EqualsNoCase(entry.manufacturer, "AMD");
}

bool ProcessorFits(const ModuleConfig& entry, const std::string& processorVersion)
{
    return !VendorBound(entry) || processorVersion.find(entry.manufacturer) != std::string::npos;
}

bool EntryFits(const ModuleConfig& entry, const std::string& systemVersion, const std::string& processorVersion)
{
    return ProjectFits(entry, systemVersion) && ProcessorFits(entry, processorVersion);
}

int FirstFittingEntry(const std::vector<ModuleConfig>& list, const std::string& systemVersion,
                      const std::string& processorVersion)
{
    for (size_t i = 0; i < list.size(); ++i) {
        if (EntryFits(list[i], systemVersion, processorVersion)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool MatchPlatform(const std::vector<ModuleConfig>& list, const std::string& systemVersion,
                   const std::string& processorVersion, ModuleConfig& config)
{
    const int index = FirstFittingEntry(list, systemVersion, processorVersion);
    if (index < 0) {
        return false;
    }
    const ModuleConfig& entry = list[static_cast<size_t>(index)];
    config.dprs.clear();
    config.projectName = entry.projectName;
    config.method = entry.method;
    config.dprs = entry.dprs;
    return true;
}

bool VerifyPlatform(ModuleConfig& config)
{
    LogScope scope("VerifyPlatform");
    SmbiosInfo smbios = SmbiosReader();
    const std::string systemVersion = SystemVersionOf(smbios);
    LogHelper::Log(LOG_LEVEL_INFO, "CHalvexService::VerifyPlatform", "SMBIOS system version = %s",
                   systemVersion.c_str());
    LogHelper::Log(LOG_LEVEL_INFO, "CHalvexService::VerifyPlatform", "SMBIOS processor version = %s",
                   smbios.processorVersion.c_str());

    // Walk a copy: the search does not depend on the process-wide list.
    const std::vector<ModuleConfig> entries = ProjectConfigList();
    return MatchPlatform(entries, systemVersion, smbios.processorVersion, config);
}

}  // namespace platform
