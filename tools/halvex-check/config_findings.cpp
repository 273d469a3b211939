#include "config_findings.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "config/dpr_method.h"
#include "config/xml_helper.h"
#include "platform/verify_platform.h"

namespace halvex_check {
namespace {

using tinyxml2::XMLElement;

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

struct LevelGrammar {
    const char* name;
    std::vector<const char*> attributes;
};

const LevelGrammar& GrammarOf(ConfigLevel level)
{
    static const LevelGrammar project{"project", {"name"}};
    static const LevelGrammar processor{"processor", {"manufacturer"}};
    static const LevelGrammar module{"module", {"method"}};
    static const LevelGrammar dpr{"dpr", {"mode", "band", "maxpower", "rowgrads", "columngrads"}};
    switch (level) {
    case ConfigLevel::Project: return project;
    case ConfigLevel::Processor: return processor;
    case ConfigLevel::Module: return module;
    default: return dpr;
    }
}

// What the service does when it passes a gap over, by the message it logs.
std::string GapEffect(const std::string& message)
{
    if (message == "can not find project node") {
        return "the service has no entry and configures nothing";
    }
    if (message == "can not find name attr") {
        return "the project is passed over with everything in it";
    }
    if (message == "can not find processor child element") {
        return "the project has no <processor> child and is passed over";
    }
    if (message == "can not find module child element") {
        return "this processor has no <module> child: it and the project's later processors are passed over";
    }
    return "this module has no <dpr> child: it and the processor's later modules are passed over";
}

// A number attribute's text as the service reads it ("%d": blanks, a sign,
// digits up to the first other character), and what surprises in it.
struct NumberReading {
    bool converted = false;  // false: the service keeps -1
    bool saturated = false;  // beyond the 32-bit range
    std::string rest;        // text after the digits, ignored
    int32_t value = -1;
};

struct NumberAttribute {
    NumberReading reading;
    std::string text;
};

NumberReading ReadNumberText(const std::string& text)
{
    NumberReading reading;
    int32_t first = -1;
    int32_t second = 0;
    XMLHelper::ReadNumber(text.c_str(), first);
    XMLHelper::ReadNumber(text.c_str(), second);
    reading.converted = first == second;
    if (!reading.converted) {
        return reading;
    }
    reading.value = first;
    size_t i = text.find_first_not_of(" \t\n\v\f\r");
    const bool negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') {
        ++i;
    }
    const size_t digitsEnd = text.find_first_not_of("0123456789", i);
    std::string digits = text.substr(i, digitsEnd == std::string::npos ? std::string::npos : digitsEnd - i);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    reading.saturated = std::to_string(first) != (negative && digits != "0" ? "-" : "") + digits;
    reading.rest = digitsEnd == std::string::npos ? "" : text.substr(digitsEnd);
    return reading;
}

void CheckProjectName(const std::string& name, int projectLine, std::vector<Finding>& findings)
{
    if (name.empty()) {
        findings.push_back({projectLine, "project-name", "empty project name",
                            "fits only a laptop whose SMBIOS version is shorter than 3 characters and whose "
                            "family is empty, such as one without an SMBIOS table"});
    } else if (name.size() < 3) {
        findings.push_back({projectLine, "project-name", "project name " + Quoted(name) + " is shorter than 3 characters",
                            "a system version this short is never compared (the service takes the family "
                            "instead): only a family " + Quoted(name) + " with a short version fits"});
    } else if (std::isspace(static_cast<unsigned char>(name.front())) ||
               std::isspace(static_cast<unsigned char>(name.back()))) {
        findings.push_back({projectLine, "project-name", "project name " + Quoted(name) + " begins or ends with a blank",
                            "names are compared whole: the blank must be in the SMBIOS text too"});
    }
}

// Collects what the service's reader meets, and what it says of each dpr's numbers.
class FindingListener : public ConfigReadListener {
public:
    explicit FindingListener(std::vector<Finding>& findings) : m_findings(findings) {}

    void OnGap(int line, const char* message) override
    {
        m_findings.push_back({line, "structure", Quoted(message) + " in the service's log", GapEffect(message)});
    }

    void OnElement(ConfigLevel level, const XMLElement& element) override
    {
        m_read.insert(&element);
        const LevelGrammar& grammar = GrammarOf(level);
        const std::string name = element.Name();
        const int line = element.GetLineNum();
        if (name != grammar.name) {
            m_findings.push_back({line, "misspelt-element",
                                  "<" + name + "> follows a <" + grammar.name + "> among its siblings",
                                  std::string("the service reads it as a <") + grammar.name + ">"});
        }
        for (const tinyxml2::XMLAttribute* a = element.FirstAttribute(); a; a = a->Next()) {
            const std::string attribute = a->Name();
            const auto known = std::find_if(grammar.attributes.begin(), grammar.attributes.end(),
                                            [&](const char* k) { return Lower(k) == Lower(attribute); });
            if (known == grammar.attributes.end()) {
                m_findings.push_back({line, "unknown-attribute", Quoted(attribute) + " on <" + name + ">",
                                      "the service ignores it"});
            } else if (attribute != *known) {
                m_findings.push_back({line, "unknown-attribute", Quoted(attribute) + " on <" + name + ">",
                                      std::string("the service ignores it: names keep their case, write ") +
                                          Quoted(*known)});
            }
        }
        if (level == ConfigLevel::Project && element.Attribute("name")) {
            CheckProjectName(element.Attribute("name"), line, m_findings);
        }
        if (level == ConfigLevel::Dpr) {
            // The reader makes one setting per dpr element, in this order.
            std::map<std::string, NumberAttribute>& numbers = m_dprNumbers.emplace_back();
            for (const char* number : {"band", "maxpower", "rowgrads", "columngrads"}) {
                if (const char* text = element.Attribute(number)) {
                    numbers[number] = {ReadNumberText(text), text};
                }
            }
        }
    }

    bool WasRead(const XMLElement& element) const { return m_read.count(&element) != 0; }
    // A number attribute of the list's dpr-th setting; null when it is absent.
    const NumberAttribute* Number(size_t dpr, const std::string& name) const
    {
        const auto& numbers = m_dprNumbers.at(dpr);
        const auto it = numbers.find(name);
        return it == numbers.end() ? nullptr : &it->second;
    }

private:
    std::vector<Finding>& m_findings;
    std::set<const XMLElement*> m_read;
    std::vector<std::map<std::string, NumberAttribute>> m_dprNumbers;
};

// Elements the reader never took (before the first of a level's name, below a
// dpr, or after a gap): only the outermost of each such subtree.
void FindUnreadElements(const XMLElement& parent, const FindingListener& listener, std::vector<Finding>& findings)
{
    for (const XMLElement* child = parent.FirstChildElement(); child; child = child->NextSiblingElement()) {
        if (listener.WasRead(*child)) {
            FindUnreadElements(*child, listener, findings);
        } else {
            findings.push_back({child->GetLineNum(), "unread-element",
                                "<" + std::string(child->Name()) + "> in <" + parent.Name() + ">",
                                "the service never reads it nor anything inside it"});
        }
    }
}

std::string EntryName(const ModuleConfig& entry)
{
    return "project " + Quoted(entry.projectName) + ", processor line " + std::to_string(entry.processorLine);
}

void CheckNumbers(const DprSetting& row, size_t dpr, const FindingListener& listener, std::vector<Finding>& findings)
{
    std::vector<const char*> names = {"maxpower", "rowgrads", "columngrads"};
    if (IsBandedMode(row.mode)) {
        names.insert(names.begin(), "band");
    }
    for (const char* name : names) {
        const NumberAttribute* attribute = listener.Number(dpr, name);
        const NumberReading* reading = attribute ? &attribute->reading : nullptr;
        const std::string text = attribute ? attribute->text : "";
        if (!reading || !reading->converted) {
            findings.push_back({row.line, "written-as-minus-1",
                                reading ? Quoted(name) + " is " + Quoted(text) + ", not a number"
                                        : Quoted(name) + " is missing",
                                "the service writes -1 for it"});
        } else if (reading->saturated) {
            findings.push_back({row.line, "out-of-range", Quoted(name) + " " + Quoted(text) + " does not fit 32 bits",
                                "the service writes " + std::to_string(reading->value)});
        } else if (!reading->rest.empty()) {
            findings.push_back({row.line, "number-text", Quoted(name) + " " + Quoted(text) + " ends in text",
                                "the service reads " + std::to_string(reading->value) + " and ignores " +
                                    Quoted(reading->rest)});
        }
    }
}

// `firstDpr`: the index of the entry's first setting in the whole list.
void CheckRows(const ModuleConfig& entry, size_t firstDpr, const FindingListener& listener,
               std::vector<Finding>& findings)
{
    const DprMethod method = MethodOf(entry.method);
    std::map<std::pair<std::string, int32_t>, const DprSetting*> seen;
    for (size_t i = 0; i < entry.dprs.size(); ++i) {
        const DprSetting& row = entry.dprs[i];
        if (!IsKnownMode(row.mode)) {
            findings.push_back({row.line, "unknown-mode", "mode " + Quoted(row.mode) + " is not LTE, WCDMA, GSM or LTE_WCDMA",
                                "the service never sends this row"});
            continue;
        }
        if (method == DprMethod::Unknown) {
            continue;  // the entry's own finding says nothing is sent
        }
        if (!ModeTakenUp(method, row.mode)) {
            findings.push_back({row.line, "skipped-row", row.mode + " row under method " + Quoted(entry.method),
                                "skipped without a word in the log: " + Quoted(entry.method) + " writes only " +
                                    (method == DprMethod::AllBand ? "LTE_WCDMA and GSM rows"
                                                                  : "LTE, WCDMA and GSM rows")});
            continue;
        }
        CheckNumbers(row, firstDpr + i, listener, findings);
        const auto key = std::make_pair(row.mode, IsBandedMode(row.mode) ? row.band : 0);
        const auto earlier = seen.find(key);
        if (earlier == seen.end()) {
            seen[key] = &row;
            continue;
        }
        const DprSetting& first = *earlier->second;
        const bool same = first.maxpower == row.maxpower && first.rowgrads == row.rowgrads &&
                          first.columngrads == row.columngrads;
        const std::string which = row.mode + (IsBandedMode(row.mode) ? " band " + std::to_string(row.band) : "");
        findings.push_back({row.line, "duplicate-row", which + " again in the module (first at line " +
                                                           std::to_string(first.line) + ")",
                            same ? "the service queries it twice; the second row changes nothing"
                                 : "the service writes both in turn, so every check finds the first row "
                                   "changed and rewrites and reboots the modem again"});
    }
}

void CheckEntry(const std::vector<ModuleConfig>& entries, size_t index, size_t firstDpr,
                const FindingListener& listener, std::vector<Finding>& findings)
{
    const ModuleConfig& entry = entries[index];
    if (MethodOf(entry.method) == DprMethod::Unknown) {
        findings.push_back({entry.line, "unknown-method",
                            entry.method.empty() ? std::string("no method (none on this module or an earlier one of the project)")
                                                 : "method " + Quoted(entry.method) + " is not \"all band\" or \"single band\"",
                            "\"Error config method\" in the log: nothing is written"});
    }
    CheckRows(entry, firstDpr, listener, findings);

    // An earlier entry of the same project that fits every processor this one fits.
    for (size_t i = 0; i < index; ++i) {
        const ModuleConfig& earlier = entries[i];
        const bool sameProject = platform::ProjectFits(earlier, entry.projectName);
        const bool coversProcessors =
            !platform::VendorBound(earlier) ||
            (platform::VendorBound(entry) && entry.manufacturer.find(earlier.manufacturer) != std::string::npos);
        if (sameProject && coversProcessors) {
            findings.push_back({entry.line, "shadowed",
                                "the entry at line " + std::to_string(earlier.line) + " (" + EntryName(earlier) +
                                    ") fits every laptop this one fits",
                                "the service always takes that one first: this entry is never used"});
            break;
        }
    }
}

void CheckProcessor(const ModuleConfig& entry, std::vector<Finding>& findings)
{
    const std::string& manufacturer = entry.manufacturer;
    const std::string lower = Lower(manufacturer);
    if (platform::VendorBound(entry) && manufacturer != "Intel" && manufacturer != "AMD") {
        const std::string proper = lower == "intel" ? "Intel" : "AMD";
        findings.push_back({entry.processorLine, "manufacturer-case",
                            "manufacturer " + Quoted(manufacturer) + " counts as " + proper +
                                ", but is looked for in the processor version with its own case",
                            "fits only a processor version that holds " + Quoted(manufacturer) +
                                " as written; processor versions write " + Quoted(proper)});
    } else if (!platform::VendorBound(entry) &&
               (lower.find("intel") != std::string::npos || lower.find("amd") != std::string::npos)) {
        findings.push_back({entry.processorLine, "manufacturer-unbound",
                            "manufacturer " + Quoted(manufacturer) + " is not exactly Intel or AMD",
                            "the entry fits every processor"});
    }
}

}  // namespace

ConfigCheck CheckConfigText(const std::string& bytes)
{
    ConfigCheck check;
    tinyxml2::XMLDocument document;
    if (document.Parse(bytes.c_str(), bytes.size()) != tinyxml2::XML_SUCCESS) {
        check.error = "line " + std::to_string(document.ErrorLineNum()) + ": " + document.ErrorName() +
                      " (the service loads no entry at all)";
        return check;
    }
    check.readable = true;
    FindingListener listener(check.findings);
    if (XMLHelper::ReadDocument(document, check.entries, listener)) {
        FindUnreadElements(*document.RootElement(), listener, check.findings);
    }
    std::set<std::pair<int, std::string>> processors;  // a processor's entries share line and manufacturer
    size_t firstDpr = 0;
    for (size_t i = 0; i < check.entries.size(); ++i) {
        if (processors.insert({check.entries[i].processorLine, check.entries[i].manufacturer}).second) {
            CheckProcessor(check.entries[i], check.findings);
        }
        CheckEntry(check.entries, i, firstDpr, listener, check.findings);
        firstDpr += check.entries[i].dprs.size();
    }
    std::stable_sort(check.findings.begin(), check.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return check;
}

ConfigCheck CheckConfigFile(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        ConfigCheck check;
        check.error = std::filesystem::exists(path, error) ? "not a file" : "no such file";
        return check;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) {
        ConfigCheck check;
        check.error = "cannot be read";
        return check;
    }
    return CheckConfigText(bytes.str());
}

}  // namespace halvex_check
