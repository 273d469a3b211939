#include "laptop_analysis.h"

#include "check_output.h"
#include "explain.h"

namespace halvex_sim {

LaptopAnalysis AnalyseLaptop(const Scenario& scenario, const std::vector<uint8_t>& smbiosTable)
{
    LaptopAnalysis analysis;
    const halvex_check::ConfigCheck config =
        scenario.dprConfig ? halvex_check::CheckConfigText(*scenario.dprConfig) : halvex_check::ConfigCheck();
    const halvex_check::Explanation explanation = halvex_check::Explain(config.entries, smbiosTable);
    analysis.hasSmbios = explanation.hasTable;
    analysis.identity = explanation.identity;
    analysis.findings = config.findings;
    if (!scenario.dprConfig) {
        analysis.why = "there is no DPRConfig.xml";
        return analysis;
    }
    if (!config.readable) {
        analysis.why = "DPRConfig.xml cannot be read: " + config.error;
        return analysis;
    }
    analysis.why = explanation.why;
    for (const halvex_check::NearMiss& miss : explanation.nearMisses) {
        analysis.nearMisses.push_back("module line " + std::to_string(config.entries[miss.entry].line) + ": " +
                                      miss.why);
    }
    if (explanation.chosen >= 0) {
        analysis.entryFound = true;
        analysis.entry = config.entries[static_cast<size_t>(explanation.chosen)];
        analysis.entryText = halvex_check::DescribeEntry(analysis.entry);
    }
    return analysis;
}

}  // namespace halvex_sim
