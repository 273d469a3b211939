#include "check_output.h"

#include "config/dpr_method.h"

namespace halvex_check {
namespace {

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

size_t AppliedRows(const ModuleConfig& entry)
{
    size_t applied = 0;
    for (const DprSetting& row : entry.dprs) {
        applied += ModeTakenUp(MethodOf(entry.method), row.mode) ? 1 : 0;
    }
    return applied;
}

nlohmann::json IdentityJson(const SmbiosInfo& id)
{
    return {{"manufacturer", id.manufacturer}, {"product", id.productName}, {"version", id.version},
            {"family", id.family},             {"serial", id.serialNumber}, {"sku", id.skuNumber},
            {"uuid", id.uuid},                 {"processor", id.processorVersion}};
}

}  // namespace

nlohmann::json EntryJson(const ModuleConfig& entry)
{
    nlohmann::json rows = nlohmann::json::array();
    for (const DprSetting& row : entry.dprs) {
        rows.push_back({{"line", row.line},
                        {"mode", row.mode},
                        {"band", IsBandedMode(row.mode) ? nlohmann::json(row.band) : nlohmann::json(nullptr)},
                        {"maxpower", row.maxpower},
                        {"rowgrads", row.rowgrads},
                        {"columngrads", row.columngrads},
                        {"applied", ModeTakenUp(MethodOf(entry.method), row.mode)}});
    }
    return {{"project", entry.projectName}, {"manufacturer", entry.manufacturer},
            {"processor_line", entry.processorLine}, {"line", entry.line},
            {"method", entry.method}, {"rows", rows}};
}

nlohmann::json FindingJson(const Finding& f)
{
    return {{"line", f.line}, {"kind", f.kind}, {"text", f.text}, {"effect", f.effect}};
}

std::string DescribeEntry(const ModuleConfig& entry)
{
    return "project " + Quoted(entry.projectName) + ", processor element line " + std::to_string(entry.processorLine) +
           (entry.manufacturer.empty() ? std::string(" (no manufacturer)")
                                       : " (manufacturer " + Quoted(entry.manufacturer) + ")") +
           ", module line " + std::to_string(entry.line) + ", method " + Quoted(entry.method) + ", " +
           std::to_string(entry.dprs.size()) + " rows, " + std::to_string(AppliedRows(entry)) + " applied";
}

void PrintConfigCheck(const std::string& path, const ConfigCheck& check, std::ostream& out)
{
    if (!check.readable) {
        out << path << ": " << check.error << "\n";
        return;
    }
    out << path << ": " << check.entries.size() << " entries\n";
    for (const ModuleConfig& entry : check.entries) {
        out << "  " << DescribeEntry(entry) << "\n";
    }
    for (const Finding& f : check.findings) {
        out << path << ":" << f.line << ": [" << f.kind << "] " << f.text << ": " << f.effect << "\n";
    }
    out << (check.findings.empty() ? std::string("No findings.")
                                   : std::to_string(check.findings.size()) + " findings.")
        << "\n";
}

nlohmann::json ConfigCheckJson(const std::string& path, const ConfigCheck& check)
{
    nlohmann::json json = {{"file", path}, {"readable", check.readable}};
    if (!check.readable) {
        json["error"] = check.error;
    }
    json["entries"] = nlohmann::json::array();
    for (const ModuleConfig& entry : check.entries) {
        json["entries"].push_back(EntryJson(entry));
    }
    json["findings"] = nlohmann::json::array();
    for (const Finding& f : check.findings) {
        json["findings"].push_back(FindingJson(f));
    }
    return json;
}

std::string EntryLine(const std::vector<ModuleConfig>& entries, const Explanation& e)
{
    if (e.chosen < 0) {
        return "none (" + e.why + ")";
    }
    return DescribeEntry(entries[static_cast<size_t>(e.chosen)]);
}

void PrintExplanation(const std::vector<ModuleConfig>& entries, const Explanation& e, std::ostream& out)
{
    const SmbiosInfo& id = e.identity;
    if (e.hasTable) {
        out << "Laptop: " << id.manufacturer << " " << id.productName << ", version " << Quoted(id.version)
            << ", family " << Quoted(id.family) << ", processor " << Quoted(id.processorVersion) << "\n";
    } else {
        out << "Laptop: no SMBIOS table\n";
    }
    out << "Project names are compared with " << Quoted(e.comparedText)
        << (e.fromFamily ? " (the family: the system version has fewer than 3 characters)" : " (the system version)")
        << "\n";
    out << "Entry: " << (e.chosen < 0 ? std::string("none") : EntryLine(entries, e)) << "\n";
    out << "Why: " << e.why << "\n";
    if (!e.nearMisses.empty()) {
        out << "Near misses:\n";
        for (const NearMiss& miss : e.nearMisses) {
            out << "  module line " << entries[miss.entry].line << " (project " << Quoted(entries[miss.entry].projectName)
                << "): " << miss.why << "\n";
        }
    }
}

nlohmann::json ExplanationJson(const std::vector<ModuleConfig>& entries, const Explanation& e)
{
    nlohmann::json json;
    json["laptop"] = e.hasTable ? IdentityJson(e.identity) : nlohmann::json(nullptr);
    json["compared_text"] = e.comparedText;
    json["compared_from"] = e.fromFamily ? "family" : "version";
    json["entry"] = e.chosen < 0 ? nlohmann::json(nullptr) : EntryJson(entries[static_cast<size_t>(e.chosen)]);
    json["why"] = e.why;
    json["near_misses"] = nlohmann::json::array();
    for (const NearMiss& miss : e.nearMisses) {
        json["near_misses"].push_back({{"line", entries[miss.entry].line}, {"why", miss.why}});
    }
    return json;
}

std::string DumpJson(const nlohmann::json& json)
{
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace halvex_check
