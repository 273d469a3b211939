#include "report.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "check_output.h"
#include "step_names.h"

namespace halvex_sim {
namespace {

constexpr size_t kLogTail = 15;

// CR and LF shown as \r and \n, so that each exchange stays on one line.
std::string Visible(const std::string& text)
{
    std::string out;
    for (char c : text) {
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

std::string Values(const SarRow& row)
{
    return std::to_string(row.maxpower) + "," + std::to_string(row.rowgrads) + "," + std::to_string(row.columngrads);
}

const SarRow* Find(const std::vector<SarRow>& rows, const SarRow& key)
{
    auto it = std::find_if(rows.begin(), rows.end(),
                           [&](const SarRow& row) { return row.mode == key.mode && row.band == key.band; });
    return it == rows.end() ? nullptr : &*it;
}

const char* StateName(uint32_t state)
{
    static const char* const names[] = {"?",       "STOPPED",          "START_PENDING", "STOP_PENDING",
                                        "RUNNING", "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
    return state < 8 ? names[state] : "?";
}

// The rows of the modem's table the run saw: those set before it, then those it wrote.
std::vector<SarRow> TableKeys(const Report& report)
{
    std::vector<SarRow> keys = report.before;
    for (const SarRow& row : report.result.after) {
        if (!Find(keys, row)) {
            keys.push_back(row);
        }
    }
    return keys;
}

// The row of the table for the key: written, or the factory values.
SarRow RowIn(const std::vector<SarRow>& rows, const SarRow& key)
{
    const SarRow* row = Find(rows, key);
    return row ? *row : FactoryRow(key);
}

void PrintTable(const Report& report, std::ostream& out)
{
    const std::string factory = Values(FactoryRow(SarRow{}));
    out << "SAR table (rows not listed hold the factory values " << factory << "; * changed)\n";
    for (const SarRow& key : TableKeys(report)) {
        const std::string beforeText = Values(RowIn(report.before, key));
        const std::string afterText = Values(RowIn(report.result.after, key));
        out << (beforeText != afterText ? "  * " : "    ") << RowKey(key) << ": " << beforeText << " -> "
            << afterText << "\n";
    }
}

std::string RowList(const std::vector<RowVerdict>& rows, bool (*pick)(const RowVerdict&))
{
    std::string text;
    for (const RowVerdict& row : rows) {
        if (pick(row)) {
            text += (text.empty() ? "" : ", ") + RowKey(row.wanted) + " (line " + std::to_string(row.line) + ")";
        }
    }
    return text.empty() ? "none" : text;
}

void PrintVerdict(const Verdict& v, std::ostream& out)
{
    out << "Verdict: " << v.name << " (" << v.reason << ")\n";
    if (v.wanted == 0) {
        return;
    }
    out << "  the entry wants " << v.wanted << " rows; its method applies " << v.applied.size() << " and skips "
        << v.skipped.size() << "\n";
    out << "  skipped: " << RowList(v.skipped, [](const RowVerdict&) { return true; }) << "\n";
    out << "  rewritten: " << RowList(v.applied, [](const RowVerdict& r) { return !r.alreadyRight; }) << "\n";
    out << "  already right: " << RowList(v.applied, [](const RowVerdict& r) { return r.alreadyRight; }) << "\n";
    out << "  missing from the final table: " << RowList(v.applied, [](const RowVerdict& r) { return !r.held; })
        << "\n";
}

std::string Summary(const Report& report)
{
    const RunResult& r = report.result;
    const size_t failed = static_cast<size_t>(std::count_if(r.expectations.begin(), r.expectations.end(),
                                                            [](const CheckedExpectation& e) { return !e.held; }));
    return std::string(r.Passed() ? "PASSED" : "FAILED") + ": verdict " + report.verdict.name + "; " +
           std::to_string(r.expectations.size() - failed) + " of " + std::to_string(r.expectations.size()) +
           " expectations held; " + std::to_string(r.problems.size()) + " problems; " +
           std::to_string(report.laptop.findings.size()) + " findings in DPRConfig.xml";
}

nlohmann::json RowJson(const SarRow& row)
{
    return {{"mode", row.mode},
            {"band", row.band ? nlohmann::json(*row.band) : nlohmann::json(nullptr)},
            {"maxpower", row.maxpower},
            {"rowgrads", row.rowgrads},
            {"columngrads", row.columngrads}};
}

nlohmann::json RowsJson(const std::vector<SarRow>& rows)
{
    nlohmann::json list = nlohmann::json::array();
    for (const SarRow& row : rows) {
        list.push_back(RowJson(row));
    }
    return list;
}

nlohmann::json VerdictRowsJson(const std::vector<RowVerdict>& rows)
{
    nlohmann::json list = nlohmann::json::array();
    for (const RowVerdict& row : rows) {
        nlohmann::json item = RowJson(row.wanted);
        item["line"] = row.line;
        list.push_back(item);
    }
    return list;
}

}  // namespace

void PrintReport(const Report& report, std::ostream& out)
{
    const RunResult& r = report.result;
    const LaptopAnalysis& laptop = report.laptop;
    out << "\n== Scenario \"" << report.scenario->name << "\"\n";
    if (laptop.hasSmbios) {
        const SmbiosInfo& id = laptop.identity;
        out << "Laptop: " << id.manufacturer << " " << id.productName << ", version \"" << id.version
            << "\", family \"" << id.family << "\", processor \"" << id.processorVersion << "\", serial "
            << id.serialNumber << ", SKU " << id.skuNumber << ", UUID " << id.uuid << "\n";
    } else {
        out << "Laptop: no SMBIOS table\n";
    }
    out << "Configuration entry: " << (laptop.entryFound ? laptop.entryText : std::string("none")) << "\n";
    out << "  why: " << laptop.why << "\n";
    for (const std::string& miss : laptop.nearMisses) {
        out << "  near miss: " << miss << "\n";
    }
    // Lines are those of the file as the laptop holds it (an inline <dprconfig> is written out anew).
    out << "DPRConfig.xml findings (lines of the laptop's file): " << laptop.findings.size() << "\n";
    for (const halvex_check::Finding& f : laptop.findings) {
        out << "  line " << f.line << " [" << f.kind << "] " << f.text << ": " << f.effect << "\n";
    }
    PrintTable(report, out);
    PrintVerdict(report.verdict, out);

    out << "AT transcript (" << r.at.size() << " commands, " << r.reboots << " reboots)\n";
    for (const AtExchange& exchange : r.at) {
        out << "  > " << Visible(exchange.tx) << "\n  < " << Visible(exchange.rx) << "\n";
    }
    out << "Service processes: " << r.processes.size() << "\n";
    for (size_t i = 0; i < r.processes.size(); ++i) {
        out << "  process " << i + 1 << " (pid " << r.processes[i].pid << "), "
            << (r.processes[i].serviceStarted ? "exit code " + std::to_string(r.processes[i].exitCode)
                                              : std::string("the service was not started"))
            << "\n";
        for (const StatusRecord& s : r.status) {
            if (s.process == i) {
                out << "    status " << StateName(s.state) << " controls=" << s.controls
                    << " checkpoint=" << s.checkpoint << " wait_hint=" << s.waitHint << " exit=" << s.exitCode
                    << "\n";
            }
        }
    }
    out << "Restarts: " << r.restarts.size() << "\n";
    for (const RestartRecord& restart : r.restarts) {
        out << "  " << restart.verb << " " << restart.file << " " << restart.params << "\n    " << restart.outcome
            << "\n";
    }
    out << "Dumps: " << r.dumps.size() << "\n";
    for (const std::string& dump : r.dumps) {
        out << "  " << dump << "\n";
    }
    out << "Log files:\n";
    for (const std::string& file : r.logFiles) {
        out << "  " << file << "\n";
    }
    const size_t from = r.logLines.size() > kLogTail ? r.logLines.size() - kLogTail : 0;
    out << "Last log lines:\n";
    for (size_t i = from; i < r.logLines.size(); ++i) {
        out << "  " << r.logLines[i] << "\n";
    }
    out << "Expectations:\n";
    if (report.scenario->expectations.empty()) {
        out << "  warning: the scenario has no <expect>: only the verdict speaks for this run\n";
    }
    for (const std::string& problem : r.problems) {
        out << "  [FAIL] " << problem << "\n";
    }
    for (const CheckedExpectation& e : r.expectations) {
        out << (e.held ? "  [ ok ] " : "  [FAIL] ") << e.Text();
        if (!e.held) {
            out << " -- found " << e.actual;
        }
        out << "\n";
    }
    out << Summary(report) << "\n";
}

bool WriteJsonReport(const Report& report, const std::string& path)
{
    const RunResult& r = report.result;
    const LaptopAnalysis& laptop = report.laptop;
    nlohmann::json json;
    json["scenario"] = report.scenario->name;
    json["scenario_path"] =
        report.scenarioPath.empty() ? nlohmann::json(nullptr) : nlohmann::json(report.scenarioPath);
    json["run_folder"] = report.runFolder;
    json["exit_status"] = report.exitStatus;
    json["passed"] = r.Passed();
    json["failures"] = r.Failures();
    if (laptop.hasSmbios) {
        const SmbiosInfo& id = laptop.identity;
        json["laptop"] = {{"manufacturer", id.manufacturer}, {"product", id.productName}, {"version", id.version},
                          {"family", id.family},             {"serial", id.serialNumber}, {"sku", id.skuNumber},
                          {"uuid", id.uuid},                 {"processor", id.processorVersion}};
    } else {
        json["laptop"] = nlohmann::json::object();
    }
    json["entry"] = laptop.entryFound ? halvex_check::EntryJson(laptop.entry) : nlohmann::json(nullptr);
    json["why"] = laptop.why;
    json["why_none"] = laptop.entryFound ? nlohmann::json(nullptr) : nlohmann::json(laptop.why);
    json["near_misses"] = laptop.nearMisses;
    nlohmann::json findings = nlohmann::json::array();
    for (const halvex_check::Finding& f : laptop.findings) {
        findings.push_back(halvex_check::FindingJson(f));
    }
    json["findings"] = findings;
    const Verdict& v = report.verdict;
    nlohmann::json applied = nlohmann::json::array();
    for (const RowVerdict& row : v.applied) {
        nlohmann::json item = RowJson(row.wanted);
        item["line"] = row.line;
        item["already_right"] = row.alreadyRight;
        item["held"] = row.held;
        applied.push_back(item);
    }
    json["verdict"] = {{"name", v.name}, {"reason", v.reason}, {"wanted", v.wanted}, {"applied", applied},
                       {"skipped", VerdictRowsJson(v.skipped)}};
    nlohmann::json expectations = nlohmann::json::array();
    for (const CheckedExpectation& e : r.expectations) {
        expectations.push_back({{"line", e.line}, {"expected", e.expected}, {"found", e.actual}, {"held", e.held}});
    }
    json["expectations"] = expectations;
    json["counts"] = {{"queries", r.Commands(IsSarQuery)},
                      {"sets", r.Commands(IsSarSet)},
                      {"pins", r.Commands(IsPinCommand)},
                      {"starts", r.Starts()}};
    std::vector<std::string> pins;
    nlohmann::json at = nlohmann::json::array();
    for (const AtExchange& exchange : r.at) {
        at.push_back({{"tx", exchange.tx}, {"rx", exchange.rx}});
        if (IsPinCommand(exchange.tx)) {
            pins.push_back(exchange.tx.substr(0, exchange.tx.find('\r')));
        }
    }
    // Both tables over the same rows in the same order; a row never written holds the factory values.
    std::vector<SarRow> before;
    std::vector<SarRow> after;
    for (const SarRow& key : TableKeys(report)) {
        before.push_back(RowIn(report.before, key));
        after.push_back(RowIn(r.after, key));
    }
    json["modem"] = {{"before", RowsJson(before)}, {"after", RowsJson(after)}, {"reboots", r.reboots},
                     {"pins", pins}};
    json["at"] = at;
    nlohmann::json status = nlohmann::json::array();
    for (const StatusRecord& s : r.status) {
        status.push_back({{"process", s.process + 1}, {"state", s.state}, {"controls", s.controls},
                          {"checkpoint", s.checkpoint}, {"wait_hint", s.waitHint}, {"exit_code", s.exitCode}});
    }
    json["status"] = status;
    nlohmann::json restarts = nlohmann::json::array();
    for (const RestartRecord& restart : r.restarts) {
        restarts.push_back({{"verb", restart.verb}, {"file", restart.file}, {"params", restart.params},
                            {"outcome", restart.outcome}});
    }
    json["restarts"] = restarts;
    json["dumps"] = r.dumps;
    nlohmann::json processes = nlohmann::json::array();
    for (const ServiceProcessRecord& process : r.processes) {
        processes.push_back(
            {{"pid", process.pid}, {"service_started", process.serviceStarted}, {"exit_code", process.exitCode}});
    }
    json["processes"] = processes;
    json["log_files"] = r.logFiles;
    json["log"] = r.logLines;
    std::string text;
    try {
        text = json.dump(2);
    } catch (const nlohmann::json::type_error&) {
        // Texts of the laptop (SMBIOS strings, log lines, replies) need not be
        // UTF-8: such bytes become U+FFFD, and the report says so.
        json["replaced_bytes"] = "bytes that are not UTF-8 were replaced by U+FFFD";
        text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    std::ofstream file(path);
    file << text << "\n";
    return static_cast<bool>(file);
}

}  // namespace halvex_sim
