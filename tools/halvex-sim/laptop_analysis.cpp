#include "laptop_analysis.h"

#include "config/xml_helper.h"
#include "logging/log_helper.h"
#include "platform/verify_platform.h"
#include "sim/machine.h"

namespace halvex_sim {

LaptopAnalysis AnalyseLaptop(const Scenario& scenario, const std::vector<uint8_t>& smbiosTable)
{
    LaptopAnalysis analysis;
    analysis.hasSmbios = !smbiosTable.empty();
    if (analysis.hasSmbios) {
        analysis.identity = ParseSmbiosTable(smbiosTable.data(), smbiosTable.size());
    }
    sim::Machine& machine = sim::Machine::Get();
    machine.Reset();
    machine.clock().Reset(sim::Clock::Mode::Instant);
    if (analysis.hasSmbios) {
        machine.firmware().SetSmbiosTable(smbiosTable);
    }
    if (!scenario.dprConfig) {
        analysis.whyNone = "there is no DPRConfig.xml";
    } else {
        const std::string exe = machine.ExecutablePath();
        machine.fileSystem().WriteFile(exe.substr(0, exe.rfind('\\') + 1) + "DPRConfig.xml", *scenario.dprConfig);
        if (!XMLHelper::ParseXMLContent()) {
            analysis.whyNone = "DPRConfig.xml cannot be read (the service's log tells why)";
        } else if (platform::VerifyPlatform(analysis.entry)) {
            // Without a table the service compares empty texts: an entry with an empty name fits.
            analysis.entryFound = true;
        } else if (!analysis.hasSmbios) {
            analysis.whyNone = "the laptop has no SMBIOS table";
        } else {
            analysis.whyNone = "no entry fits system version \"" + analysis.identity.version + "\" (family \"" +
                               analysis.identity.family + "\") with processor \"" +
                               analysis.identity.processorVersion + "\"";
        }
    }
    LogHelper::Shutdown();
    machine.fileSystem().Remove();
    return analysis;
}

}  // namespace halvex_sim
