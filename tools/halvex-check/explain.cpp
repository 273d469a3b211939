#include "explain.h"

#include "platform/verify_platform.h"

namespace halvex_check {
namespace {

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string ProcessorReason(const ModuleConfig& entry, const std::string& processor)
{
    if (!platform::VendorBound(entry)) {
        return entry.manufacturer.empty() ? "the processor element names no manufacturer, so it fits every processor"
                                          : "manufacturer " + Quoted(entry.manufacturer) +
                                                " is neither Intel nor AMD, so it fits every processor";
    }
    return "manufacturer " + Quoted(entry.manufacturer) + " is in the processor version " + Quoted(processor);
}

// Why an entry that does not fit came close, or "" when it did not.
std::string NearMissReason(const ModuleConfig& entry, const Explanation& e)
{
    const SmbiosInfo& id = e.identity;
    if (platform::ProjectFits(entry, e.comparedText)) {
        return "the project fits, but manufacturer " + Quoted(entry.manufacturer) + " is not in the processor version " +
               Quoted(id.processorVersion) + " (looked for with its case)";
    }
    const std::string other = e.fromFamily ? id.version : id.family;
    if (!other.empty() && platform::ProjectFits(entry, other)) {
        return e.fromFamily ? "the project is the system version, but a version shorter than 3 characters is "
                              "replaced by the family " + Quoted(id.family)
                            : "the project is the family; the family counts only when the system version has "
                              "fewer than 3 characters";
    }
    ModuleConfig trimmed = entry;
    trimmed.projectName = Trimmed(entry.projectName);
    if (!e.comparedText.empty() && platform::ProjectFits(trimmed, Trimmed(e.comparedText))) {
        return "the project differs from " + Quoted(e.comparedText) + " only in blanks at its ends";
    }
    return "";
}

}  // namespace

std::vector<uint8_t> WithFirmwareHeader(const std::vector<uint8_t>& table)
{
    if (table.size() >= 8) {
        const uint32_t length = static_cast<uint32_t>(table[4]) | static_cast<uint32_t>(table[5]) << 8 |
                                static_cast<uint32_t>(table[6]) << 16 | static_cast<uint32_t>(table[7]) << 24;
        if (length == table.size() - 8) {
            return table;
        }
    }
    // Version 3.0 in the header: the reading looks only at the structures.
    std::vector<uint8_t> whole = {0, 3, 0, 0};
    const uint32_t length = static_cast<uint32_t>(table.size());
    for (int shift = 0; shift < 32; shift += 8) {
        whole.push_back(static_cast<uint8_t>(length >> shift));
    }
    whole.insert(whole.end(), table.begin(), table.end());
    return whole;
}

Explanation Explain(const std::vector<ModuleConfig>& entries, const std::vector<uint8_t>& table)
{
    Explanation e;
    e.hasTable = !table.empty();
    if (e.hasTable) {
        const std::vector<uint8_t> whole = WithFirmwareHeader(table);
        e.identity = ParseSmbiosTable(whole.data(), whole.size());
    }
    e.comparedText = platform::SystemVersionOf(e.identity);
    e.fromFamily = platform::FamilyStandsForVersion(e.identity);
    e.chosen = platform::FirstFittingEntry(entries, e.comparedText, e.identity.processorVersion);
    if (e.chosen >= 0) {
        const ModuleConfig& entry = entries[static_cast<size_t>(e.chosen)];
        e.why = "project " + Quoted(entry.projectName) + " equals " +
                (e.fromFamily ? "the family (the system version has fewer than 3 characters)"
                              : std::string("the system version")) +
                ", letter case ignored; " + ProcessorReason(entry, e.identity.processorVersion) +
                "; it is the first such entry in the file";
        return e;
    }
    if (entries.empty()) {
        e.why = "DPRConfig.xml has no entry";
        return e;
    }
    e.why = "no entry's project is " + Quoted(e.comparedText) +
            (e.fromFamily ? " (the family: the system version " + Quoted(e.identity.version) +
                                " has fewer than 3 characters)"
                          : " (the system version)") +
            " with a manufacturer the processor version " + Quoted(e.identity.processorVersion) + " holds";
    if (!e.hasTable) {
        e.why += "; the laptop has no SMBIOS table, so every text is empty";
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string reason = NearMissReason(entries[i], e);
        if (!reason.empty()) {
            e.nearMisses.push_back({i, reason});
        }
    }
    return e;
}

}  // namespace halvex_check
