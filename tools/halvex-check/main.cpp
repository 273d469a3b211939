// halvex-check: checks a DPRConfig.xml with the service's own reader, and tells
// which entry the service would choose on a laptop, and why.
#include <fstream>
#include <iostream>
#include <sstream>

#include "check_output.h"
#include "config_findings.h"
#include "explain.h"
#include "host_table.h"

namespace {

using namespace halvex_check;

constexpr int kExitClean = 0;     // config: no findings; explain: an entry fits
constexpr int kExitFindings = 1;  // config: findings;    explain: no entry fits
constexpr int kExitUnusable = 2;  // unreadable file or table, or a wrong command line

const char* const kUsage =
    "Usage:\n"
    "  halvex-check config [--json] [FILE]\n"
    "      Checks a DPRConfig.xml (default: the one beside this program) as the service reads it:\n"
    "      XML errors with their line, every entry, and each finding with its line and what the\n"
    "      service will do with it.\n"
    "  halvex-check explain [--config FILE] [--smbios FILE | --host] [--save-table FILE] [--json]\n"
    "      The laptop's identity and the entry the service would choose, and why; when none fits,\n"
    "      why, and the entries that came close. --smbios reads a saved SMBIOS table (as\n"
    "      GetSystemFirmwareTable gives it, or /sys/firmware/dmi/tables/DMI); --host (the default)\n"
    "      reads this machine's. --save-table writes the table read to FILE.\n"
    "  --json  prints the answer as JSON instead of text.\n"
    "Exit status:\n"
    "  config:  0 no findings, 1 findings, 2 the file cannot be read or is not well-formed XML\n"
    "  explain: 0 an entry fits, 1 no entry fits, 2 the file or the table cannot be read\n"
    "  2 also for a wrong command line.\n";

struct Options {
    std::string command;
    std::string config;
    std::string smbios;
    std::string saveTable;
    bool host = false;
    bool json = false;
};

int Unusable(const std::string& message)
{
    std::cerr << "halvex-check: " << message << "\n";
    return kExitUnusable;
}

bool ReadBytes(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return static_cast<bool>(in);
}

// Prints the answer and returns the exit status, which the JSON carries too.
int Answer(const Options& options, nlohmann::json json, const std::string& text, int status)
{
    if (options.json) {
        json["command"] = options.command;
        json["exit_status"] = status;
        std::cout << DumpJson(json) << "\n";
    } else {
        std::cout << text;
    }
    return status;
}

int RunConfig(const Options& options)
{
    const std::string path = options.config.empty() ? ProgramFolder() + "DPRConfig.xml" : options.config;
    const ConfigCheck check = CheckConfigFile(path);
    std::ostringstream text;
    PrintConfigCheck(path, check, text);
    const int status = !check.readable ? kExitUnusable : check.findings.empty() ? kExitClean : kExitFindings;
    return Answer(options, ConfigCheckJson(path, check), text.str(), status);
}

int RunExplain(const Options& options)
{
    const std::string path = options.config.empty() ? ProgramFolder() + "DPRConfig.xml" : options.config;
    const ConfigCheck check = CheckConfigFile(path);
    if (!check.readable) {
        return Unusable(path + ": " + check.error);
    }
    std::vector<uint8_t> table;
    if (!options.smbios.empty()) {
        std::string bytes;
        if (!ReadBytes(options.smbios, bytes)) {
            return Unusable("cannot read the SMBIOS table " + options.smbios);
        }
        table.assign(bytes.begin(), bytes.end());
    } else if (const auto host = HostSmbiosTable()) {
        table = *host;
    } else {
        return Unusable("cannot read this machine's SMBIOS table from /sys/firmware/dmi/tables/ "
                        "(it needs read access, usually root)");
    }
    if (!options.saveTable.empty()) {
        std::ofstream out(options.saveTable, std::ios::binary);
        out.write(reinterpret_cast<const char*>(table.data()), static_cast<std::streamsize>(table.size()));
        if (!out) {
            return Unusable("cannot write " + options.saveTable);
        }
    }
    const Explanation explanation = Explain(check.entries, table);
    std::ostringstream text;
    text << "DPRConfig.xml: " << path << "\n";
    PrintExplanation(check.entries, explanation, text);
    nlohmann::json json = ExplanationJson(check.entries, explanation);
    json["config"] = path;
    return Answer(options, json, text.str(), explanation.chosen >= 0 ? kExitClean : kExitFindings);
}

// False with a message for anything it does not know.
bool ParseArguments(int argc, char** argv, Options& options, std::string& problem)
{
    if (argc < 2) {
        problem = "a command is needed: config or explain";
        return false;
    }
    options.command = argv[1];
    if (options.command != "config" && options.command != "explain") {
        problem = "unknown command \"" + options.command + "\"";
        return false;
    }
    const bool explain = options.command == "explain";
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                problem = arg + " needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (arg == "--json") {
            options.json = true;
        } else if (explain && arg == "--config") {
            if (!value(options.config)) return false;
        } else if (explain && arg == "--smbios") {
            if (!value(options.smbios)) return false;
        } else if (explain && arg == "--save-table") {
            if (!value(options.saveTable)) return false;
        } else if (explain && arg == "--host") {
            options.host = true;
        } else if (!explain && !arg.empty() && arg[0] != '-' && options.config.empty()) {
            options.config = arg;
        } else {
            problem = "unexpected argument \"" + arg + "\" for " + options.command;
            return false;
        }
    }
    if (options.host && !options.smbios.empty()) {
        problem = "--smbios and --host exclude each other";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kExitClean;
        }
    }
    Options options;
    std::string problem;
    if (!ParseArguments(argc, argv, options, problem)) {
        std::cerr << "halvex-check: " << problem << "\n" << kUsage;
        return kExitUnusable;
    }
    return options.command == "config" ? RunConfig(options) : RunExplain(options);
}
