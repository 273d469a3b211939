#include "report.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

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

void PrintTable(const Report& report, std::ostream& out)
{
    std::vector<SarRow> keys = report.before;
    for (const SarRow& row : report.result.after) {
        if (!Find(keys, row)) {
            keys.push_back(row);
        }
    }
    const std::string factory = Values(FactoryRow(SarRow{}));
    out << "SAR table (rows not listed hold the factory values " << factory << "; * changed)\n";
    for (const SarRow& key : keys) {
        const SarRow* before = Find(report.before, key);
        const SarRow* after = Find(report.result.after, key);
        const std::string beforeText = before ? Values(*before) : factory;
        const std::string afterText = after ? Values(*after) : factory;
        out << (beforeText != afterText ? "  * " : "    ") << RowKey(key) << ": " << beforeText << " -> "
            << afterText << "\n";
    }
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
    if (laptop.entryFound) {
        out << "Configuration entry: project \"" << laptop.entry.projectName << "\", method \""
            << laptop.entry.method << "\", " << laptop.entry.dprs.size() << " settings\n";
    } else {
        out << "Configuration entry: none (" << laptop.whyNone << ")\n";
    }
    PrintTable(report, out);

    out << "AT transcript (" << r.at.size() << " commands, " << r.reboots << " reboots)\n";
    for (const AtExchange& exchange : r.at) {
        out << "  > " << Visible(exchange.tx) << "\n  < " << Visible(exchange.rx) << "\n";
    }
    out << "Service processes: " << r.processes.size() << "\n";
    for (size_t i = 0; i < r.processes.size(); ++i) {
        out << "  process " << i + 1 << " (pid " << r.processes[i].pid << "), exit code " << r.processes[i].exitCode
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
    for (const std::string& problem : r.problems) {
        out << "  [FAIL] " << problem << "\n";
    }
    for (const CheckedExpectation& e : r.expectations) {
        out << (e.held ? "  [ ok ] " : "  [FAIL] ") << e.text;
        if (!e.held) {
            out << " -- found " << e.actual;
        }
        out << "\n";
    }
    out << (r.Passed() ? "PASSED" : "FAILED") << "\n";
}

bool WriteJsonReport(const Report& report, const std::string& path)
{
    const RunResult& r = report.result;
    const LaptopAnalysis& laptop = report.laptop;
    nlohmann::json json;
    json["scenario"] = report.scenario->name;
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
    if (laptop.entryFound) {
        std::vector<SarRow> rows;
        for (const DprSetting& dpr : laptop.entry.dprs) {
            SarRow row{dpr.mode, dpr.band >= 0 ? std::optional<int32_t>(dpr.band) : std::nullopt, dpr.maxpower,
                       dpr.rowgrads, dpr.columngrads};
            rows.push_back(row);
        }
        json["entry"] = {{"project", laptop.entry.projectName}, {"method", laptop.entry.method}, {"dprs", RowsJson(rows)}};
    } else {
        json["entry"] = nullptr;
    }
    std::vector<std::string> pins;
    nlohmann::json at = nlohmann::json::array();
    for (const AtExchange& exchange : r.at) {
        at.push_back({{"tx", exchange.tx}, {"rx", exchange.rx}});
        if (IsPinCommand(exchange.tx)) {
            pins.push_back(exchange.tx.substr(0, exchange.tx.find('\r')));
        }
    }
    json["modem"] = {{"before", RowsJson(report.before)}, {"after", RowsJson(r.after)}, {"reboots", r.reboots},
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
        processes.push_back({{"pid", process.pid}, {"exit_code", process.exitCode}});
    }
    json["processes"] = processes;
    json["log_files"] = r.logFiles;
    json["log"] = r.logLines;
    std::ofstream file(path);
    // A reply of garbage bytes is not UTF-8: such bytes are written as U+FFFD.
    file << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return static_cast<bool>(file);
}

}  // namespace halvex_sim
