// halvex-check's answers: text for a person, JSON for a program. The same
// JSON comes from both builds for the same inputs.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "config_findings.h"
#include "explain.h"

namespace halvex_check {

void PrintConfigCheck(const std::string& path, const ConfigCheck& check, std::ostream& out);
nlohmann::json ConfigCheckJson(const std::string& path, const ConfigCheck& check);

void PrintExplanation(const std::vector<ModuleConfig>& entries, const Explanation& e, std::ostream& out);
nlohmann::json ExplanationJson(const std::vector<ModuleConfig>& entries, const Explanation& e);

nlohmann::json EntryJson(const ModuleConfig& entry);
nlohmann::json FindingJson(const Finding& finding);

// One line: the entry, or "none", with why.
std::string EntryLine(const std::vector<ModuleConfig>& entries, const Explanation& e);
std::string DescribeEntry(const ModuleConfig& entry);

// Texts from a laptop need not be UTF-8: such bytes are replaced by U+FFFD.
std::string DumpJson(const nlohmann::json& json);

}  // namespace halvex_check
