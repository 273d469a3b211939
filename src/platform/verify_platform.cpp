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

bool EntryFits(const ModuleConfig& entry, const std::string& systemVersion, const std::string& processorVersion)
{
    if (!EqualsNoCase(entry.projectName, systemVersion)) {
        return false;
    }
    bool vendorBound = EqualsNoCase(entry.manufacturer, "Intel") || EqualsNoCase(entry.manufacturer, "AMD");
    return !vendorBound || processorVersion.find(entry.manufacturer) != std::string::npos;
}

bool MatchPlatform(const std::vector<ModuleConfig>& list, const std::string& systemVersion,
                   const std::string& processorVersion, ModuleConfig& config)
{
    for (const ModuleConfig& entry : list) {
        if (EntryFits(entry, systemVersion, processorVersion)) {
            config.dprs.clear();
            config.projectName = entry.projectName;
            config.method = entry.method;
            config.dprs = entry.dprs;
            return true;
        }
    }
    return false;
}

bool VerifyPlatform(ModuleConfig& config)
{
    LogScope scope("VerifyPlatform");
    SmbiosInfo smbios = SmbiosReader();
    std::string systemVersion = smbios.version;
    if (systemVersion.size() < 3) {
        systemVersion = smbios.family;
    }
    LogHelper::Log(LOG_LEVEL_INFO, "CHalvexService::VerifyPlatform", "SMBIOS system version = %s",
                   systemVersion.c_str());
    LogHelper::Log(LOG_LEVEL_INFO, "CHalvexService::VerifyPlatform", "SMBIOS processor version = %s",
                   smbios.processorVersion.c_str());

    // Walk a copy: the search does not depend on the process-wide list.
    const std::vector<ModuleConfig> entries = ProjectConfigList();
    return MatchPlatform(entries, systemVersion, smbios.processorVersion, config);
}

}  // namespace platform
